#!/usr/bin/env python3
"""Starts the installed program on the X display in DISPLAY, waits for its main window, closes that
window through the window manager protocol (as the close box does) and checks the exit code and the
settings file the exit wrote.

usage: start_and_close.py PREFIX
"""
import os
import subprocess
import sys
import time

from Xlib import X, Xatom, display, error, protocol

MAIN_TITLE = "送り状印刷"
SENDER_KEYS = [
    "SenderName", "SenderZip", "SenderAddress1", "SenderAddress2", "SenderTel", "SenderShopCode1",
    "SenderShopCode2", "CustomerCode", "AccountNo1", "AccountNo2", "AccountNo3",
]
# Upper bounds for a slow machine; nothing waits longer than it must.
START_LIMIT = 60.0
EXIT_LIMIT = 60.0


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def title(d, window):
    try:
        net_name = window.get_full_property(d.intern_atom("_NET_WM_NAME"), d.intern_atom("UTF8_STRING"))
        if net_name is not None:
            return net_name.value.decode("utf-8")
        name = window.get_full_property(Xatom.WM_NAME, X.AnyPropertyType)
        if name is not None:
            return name.value.decode("latin-1") if isinstance(name.value, bytes) else str(name.value)
    except error.XError:
        pass
    return None


def viewable_windows(d):
    """(window, title) for every viewable window with a title, at any depth below the root."""
    found = []
    pending = [d.screen().root]
    while pending:
        window = pending.pop()
        try:
            children = window.query_tree().children
        except error.XError:
            continue
        for child in children:
            try:
                viewable = child.get_attributes().map_state == X.IsViewable
            except error.XError:
                continue
            name = title(d, child)
            if viewable and name:
                found.append((child, name))
            pending.append(child)
    return found


def close_window(d, window):
    wm_protocols = d.intern_atom("WM_PROTOCOLS")
    wm_delete = d.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(window=window, client_type=wm_protocols,
                                         data=(32, [wm_delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event, event_mask=X.NoEventMask)
    d.flush()


def read_ini(path):
    """{section: {key: value}} of a file of CR LF or LF lines in code page 932."""
    sections = {}
    current = None
    with open(path, "rb") as f:
        for raw in f.read().split(b"\n"):
            line = raw.rstrip(b"\r").decode("cp932")
            stripped = line.strip()
            if stripped.startswith("[") and "]" in stripped:
                current = sections.setdefault(stripped[1:stripped.rindex("]")].strip(), {})
            elif "=" in line and current is not None and not stripped.startswith(";"):
                key, value = line.split("=", 1)
                current[key.strip()] = value.strip()
    return sections


def main():
    if len(sys.argv) != 2:
        fail(__doc__)
    prefix = os.path.abspath(sys.argv[1])
    program = os.path.join(prefix, "Kelvaro")
    ini_path = os.path.join(prefix, "Kelvaro.ini")
    if os.path.exists(ini_path):
        fail(ini_path + " exists before the first start")

    # Started from another folder: the program finds its files beside itself.
    proc = subprocess.Popen([program], cwd="/", env=dict(os.environ, QT_QPA_PLATFORM="xcb"))
    try:
        d = display.Display()
        deadline = time.monotonic() + START_LIMIT
        main_window = None
        while main_window is None:
            if proc.poll() is not None:
                fail("the program ended before its main window appeared (exit code %d)" % proc.returncode)
            windows = viewable_windows(d)
            if time.monotonic() > deadline:
                fail("no window titled %s appeared; windows shown: %s" %
                     (MAIN_TITLE, ", ".join(name for _, name in windows) or "none"))
            main_window = next((w for w, name in windows if name == MAIN_TITLE), None)
            if main_window is None:
                time.sleep(0.1)
        print("main window shown: " + MAIN_TITLE)
        # No error box stands in front of it.
        others = sorted({name for _, name in viewable_windows(d)} - {MAIN_TITLE})
        if others:
            fail("unexpected windows: " + ", ".join(others))

        close_window(d, main_window)
        try:
            code = proc.wait(timeout=EXIT_LIMIT)
        except subprocess.TimeoutExpired:
            fail("the program did not end after its main window was closed; windows: " +
                 ", ".join(name for _, name in viewable_windows(d)))
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    if code != 0:
        fail("exit code %d" % code)
    print("exit code 0")

    if not os.path.isfile(ini_path):
        fail(ini_path + " was not written at exit")
    sections = read_ini(ini_path)
    if "Main" not in sections:
        fail("no section Main in " + ini_path)
    if sorted(sections["Main"]) != sorted(SENDER_KEYS):
        fail("keys of Main: %s" % sorted(sections["Main"]))
    filled = {k: v for k, v in sections["Main"].items() if v != ""}
    if filled:
        fail("keys not empty: %s" % filled)
    print("Kelvaro.ini: section Main with the eleven sender keys, all empty")


if __name__ == "__main__":
    main()
