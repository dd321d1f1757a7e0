"""Helpers for driving the installed program from outside, as a user would: on the X display in
DISPLAY (xvfb-run), through the keyboard and the mouse (xdotool), and for checking what it leaves
behind: the tables (the sqlite3 tool), the settings file and the PDF files (pdftotext).

Every wait has an upper bound and fails with a message that names the windows on screen. After each
action the test waits until the program has handled it (settle) instead of sleeping for a fixed time;
the one fixed wait left is Qt's own animated click after a mnemonic key.
"""
import itertools
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from Xlib import X, Xatom, display, error, protocol

MAIN_TITLE = "送り状印刷"
ROSTER_TITLE = "名簿登録一覧"
PRINT_TITLE = "Halvenna"
SENDER_TITLE = "差出人データ"
OUTPUT_OPTIONS_TITLE = "Output Options"
REPORT_STATUS_TITLE = "Report Status"
ERROR_BOX_TITLE = "Halvenna"

SENDER_KEYS = [
    "SenderName", "SenderZip", "SenderAddress1", "SenderAddress2", "SenderTel", "SenderShopCode1",
    "SenderShopCode2", "CustomerCode", "AccountNo1", "AccountNo2", "AccountNo3",
]
TABLES = ["MemberMaster", "Contents", "Account", "PrintMember"]

# Upper bounds for a slow machine (the sanitizer build is several times slower); nothing waits
# longer than it must.
WINDOW_LIMIT = 60.0
EXIT_LIMIT = 60.0
# How long Qt holds a button down when a mnemonic clicks it (QAbstractButton::animateClick), and some.
ANIMATED_CLICK = 0.15


class Failure(Exception):
    pass


def fail(message):
    raise Failure(message)


def check(condition, message):
    if not condition:
        fail(message)


def step(message):
    print("-- " + message, flush=True)


def run_test(body):
    """Runs body(), printing a failure as FAIL and ending with exit code 1 on it."""
    try:
        body()
    except Failure as e:
        print("FAIL: " + str(e), flush=True)
        sys.exit(1)
    print("PASS", flush=True)


# ---------------------------------------------------------------- installed folders

class Prefix:
    """A private copy of an installed prefix in a temporary folder, so that tests run in parallel
    and never see each other's tables or settings. Removed at the end unless the test failed."""

    INSTALLED = ["Kelvaro", "Invoice.Rav", "Account.Rav"] + ["Dostrel/%s.db" % t for t in TABLES]

    def __init__(self, installed, name):
        self.path = tempfile.mkdtemp(prefix="halvenna-%s-" % name)
        os.makedirs(os.path.join(self.path, "Dostrel"))
        for f in self.INSTALLED:
            source = os.path.join(installed, f)
            check(os.path.isfile(source), source + " was not installed")
            shutil.copy2(source, os.path.join(self.path, f))
        self.program = os.path.join(self.path, "Kelvaro")
        self.ini = os.path.join(self.path, "Kelvaro.ini")
        self.work = os.path.join(self.path, "work")
        os.makedirs(self.work)

    def table(self, name):
        return os.path.join(self.path, "Dostrel", name + ".db")

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        if kind is None:
            shutil.rmtree(self.path, ignore_errors=True)
        else:
            print("the test's folder is kept: " + self.path, flush=True)
        return False


# ---------------------------------------------------------------- windows

def window_title(d, window):
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


class Program:
    """The installed program, started on the X display, and the means to drive it."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.d = display.Display()
        self.root = self.d.screen().root
        # The program answers a ping on the root window (see settle).
        self.root.change_attributes(event_mask=X.StructureNotifyMask)
        self.pings = itertools.count(1)
        # Started from another folder: the program finds its files beside itself.
        self.proc = subprocess.Popen([prefix.program], cwd="/", env=dict(os.environ, QT_QPA_PLATFORM="xcb"))

    def __enter__(self):
        return self

    def __exit__(self, kind, value, trace):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        return False

    # -- looking

    def windows(self):
        """(window, title) for every viewable window with a title, at any depth below the root."""
        found = []
        pending = [self.root]
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
                name = window_title(self.d, child)
                if viewable and name:
                    found.append((child, name))
                pending.append(child)
        return found

    def titles(self):
        return sorted(name for _, name in self.windows())

    def on_screen(self):
        return ", ".join('"%s"' % t for t in self.titles()) or "no window"

    def wait_until(self, what, condition, limit=WINDOW_LIMIT, interval=0.1):
        """Polls condition() until it gives something true; fails naming what was awaited."""
        deadline = time.monotonic() + limit
        while True:
            result = condition()
            if result:
                return result
            if self.proc.poll() is not None:
                fail("the program ended (exit code %d) while waiting for %s" % (self.proc.returncode, what))
            if time.monotonic() > deadline:
                fail("%s did not happen within %d s; on screen: %s" % (what, limit, self.on_screen()))
            time.sleep(interval)

    def wait_window(self, title, limit=WINDOW_LIMIT, exclude=()):
        """The viewable window of that title (one not in exclude), once it is there."""
        def find():
            return next((w for w, name in self.windows() if name == title and w.id not in exclude), None)
        window = self.wait_until('a window "%s"' % title, find, limit)
        # Mapped is not yet shown and ready for input: the program has handled its mapping once it
        # answers.
        self.settle()
        return window

    def wait_new_window(self, known, limit=WINDOW_LIMIT):
        """A viewable window whose title is not among known; gives (window, title)."""
        def find():
            return next(((w, name) for w, name in self.windows() if name not in known), None)
        found = self.wait_until("a new window beside %s" % ", ".join(known), find, limit)
        self.settle()
        return found

    def wait_gone(self, window, what, limit=WINDOW_LIMIT):
        self.wait_until("the window %s to close" % what,
                        lambda: all(w.id != window.id for w, _ in self.windows()), limit)

    def settle(self, limit=WINDOW_LIMIT):
        """Waits until the program has handled every event it was sent so far (keys, clicks, focus,
        mapping): its windows are sent a _NET_WM_PING, which its event loop answers on the root
        window once it reaches it, and X delivers a client's events in order. A program busy on its
        own (an import between two progress steps) answers once it is back in its event loop."""
        stamp = next(self.pings)
        deadline = time.monotonic() + limit
        sent = 0.0
        while True:
            now = time.monotonic()
            if now - sent > 1.0:
                # Again every second: the window pinged may have closed before it read the ping.
                for window, _ in self.windows():
                    event = protocol.event.ClientMessage(
                        window=window, client_type=self.d.intern_atom("WM_PROTOCOLS"),
                        data=(32, [self.d.intern_atom("_NET_WM_PING"), stamp, window.id, 0, 0]))
                    window.send_event(event, event_mask=X.NoEventMask, onerror=error.CatchError())
                self.d.flush()
                sent = now
            while self.d.pending_events():
                event = self.d.next_event()
                if (event.type == X.ClientMessage and event.window.id == self.root.id
                        and event.data[1][1] == stamp):
                    return
            if self.proc.poll() is not None:
                fail("the program ended (exit code %d) while it was being waited for" % self.proc.returncode)
            if time.monotonic() > deadline:
                fail("the program did not answer within %d s; on screen: %s" % (limit, self.on_screen()))
            time.sleep(0.005)

    def expect_only(self, *titles):
        """The windows on screen are exactly these: no error box, no stray dialog."""
        shown = self.titles()
        check(shown == sorted(titles), "expected the windows %s, but on screen: %s" %
              (", ".join('"%s"' % t for t in sorted(titles)), self.on_screen()))

    def position(self, window):
        """The window's top-left corner on the screen."""
        origin = window.translate_coords(self.root, 0, 0)
        return -origin.x, -origin.y

    def size(self, window):
        g = window.get_geometry()
        return g.width, g.height

    # -- acting

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], check=True)

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", window.id)
        self.settle()

    def click_client(self, window, client_height, x, y):
        """Clicks at (x, y) of the window's client area: what lies below its menu bar, which is
        client_height high and ends at the window's bottom edge."""
        left, top = self.position(window)
        _, height = self.size(window)
        target = (left + x, top + (height - client_height) + y)
        pointer = self.root.query_pointer()
        # xdotool's --sync waits for the pointer to move, which it never does when it is there
        # already (a second click on the same button): that wait only ends after 15 s.
        if (pointer.root_x, pointer.root_y) != target:
            self.xdotool("mousemove", "--sync", *target)
        self.settle()
        self.xdotool("click", 1)
        self.settle()

    def key(self, window, *keys):
        """Presses keys (xdotool names: Return, Tab, ctrl+a, alt+f...) in the window."""
        self.focus(window)
        for k in keys:
            self.xdotool("key", "--clearmodifiers", k)
            self.settle()
            if k.startswith("alt+"):
                # A mnemonic clicks its button as Qt's animated click, which lets the button go, and
                # so toggles it, 100 ms later on a timer of the program's; then the program has
                # handled that too.
                time.sleep(ANIMATED_CLICK)
                self.settle()

    def type(self, window, text):
        """Types ASCII text into the focused control of the window."""
        self.focus(window)
        self.xdotool("type", "--clearmodifiers", "--delay", 12, text)
        self.settle()

    def close(self, window):
        """Closes the window through the window manager protocol, as its close box does."""
        event = protocol.event.ClientMessage(
            window=window, client_type=self.d.intern_atom("WM_PROTOCOLS"),
            data=(32, [self.d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        self.d.flush()

    def wait_exit(self, limit=EXIT_LIMIT):
        try:
            return self.proc.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            fail("the program did not end within %d s; on screen: %s" % (limit, self.on_screen()))


# ---------------------------------------------------------------- files

def read_ini(path):
    """{section: {key: value}} of a file of CR LF or LF lines in code page 932; fails if the file
    is not code page 932."""
    sections = {}
    current = None
    with open(path, "rb") as f:
        data = f.read()
    try:
        text = data.decode("cp932")
    except UnicodeDecodeError as e:
        fail("%s is not code page 932: %s" % (path, e))
    for line in text.split("\n"):
        line = line.rstrip("\r")
        stripped = line.strip()
        if stripped.startswith("[") and "]" in stripped:
            current = sections.setdefault(stripped[1:stripped.rindex("]")].strip(), {})
        elif "=" in line and current is not None and not stripped.startswith(";"):
            key, value = line.split("=", 1)
            current[key.strip()] = value.strip()
    return sections


NULL = "\x01NULL\x01"


def query(db, sql, limit=30.0):
    """Rows of a query run by the sqlite3 tool, as tuples of strings (None for null). Retries while
    the database is locked by a writer, up to limit seconds."""
    deadline = time.monotonic() + limit
    while True:
        r = subprocess.run(["sqlite3", "-batch", "-bail", "-ascii", "-nullvalue", NULL, "-cmd", ".timeout 5000",
                            db, sql], capture_output=True)
        if r.returncode == 0:
            break
        message = r.stderr.decode("utf-8", "replace").strip()
        if "locked" not in message and "busy" not in message:
            fail("sqlite3 %s %r: %s" % (db, sql, message))
        if time.monotonic() > deadline:
            fail("sqlite3 %s %r: still locked after %d s: %s" % (db, sql, limit, message))
        time.sleep(0.2)
    out = r.stdout.decode("utf-8")
    rows = [row for row in out.split("\x1e") if row != ""]
    return [tuple(None if v == NULL else v for v in row.split("\x1f")) for row in rows]


def pdf_pages(path):
    """The text of each page of a PDF file, as pdftotext reads it."""
    check(os.path.isfile(path), path + " was not written")
    r = subprocess.run(["pdftotext", "-layout", "-enc", "UTF-8", path, "-"], capture_output=True)
    check(r.returncode == 0, "pdftotext %s: %s" % (path, r.stderr.decode("utf-8", "replace")))
    pages = r.stdout.decode("utf-8").split("\f")
    if pages and pages[-1].strip() == "":
        pages.pop()
    return pages


def squeeze(text):
    """The text without any white space: digits drawn one per box come back as one word."""
    return "".join(text.split())


class NamedPipe:
    """A named pipe made at path, which the test feeds while the program reads it as the file it was
    given. The program waits on it for more for as long as the test holds it open, so that the test
    acts in the middle of an import however fast the import has become; close() ends the file. A
    thread of its own writes: opening waits for the reader, and a full pipe waits for it to read."""

    def __init__(self, path):
        os.mkfifo(path)
        self.path = path
        self.failure = None
        self.pending = queue.Queue()
        self.thread = threading.Thread(target=self.feed, daemon=True)
        self.thread.start()

    def feed(self):
        try:
            with open(self.path, "wb") as f:
                while True:
                    data = self.pending.get()
                    try:
                        if data is None:
                            return
                        f.write(data)
                        f.flush()
                    finally:
                        self.pending.task_done()
        except OSError as e:  # the reader went away (killed)
            self.failure = e
            while True:
                self.pending.get()
                self.pending.task_done()

    def write(self, data):
        self.pending.put(data)

    def wait_written(self, what, limit):
        """Waits until the program has taken everything written so far into the pipe."""
        deadline = time.monotonic() + limit
        while self.pending.unfinished_tasks:
            check(time.monotonic() < deadline, "the program did not read %s within %d s" % (what, limit))
            time.sleep(0.05)
        check(self.failure is None, "writing %s into %s: %s" % (what, self.path, self.failure))

    def close(self):
        self.pending.put(None)


def write_csv(path, lines):
    """A roster CSV file: code page 932, CR LF after every line."""
    with open(path, "wb") as f:
        for line in lines:
            f.write(",".join(line).encode("cp932") + b"\r\n")
