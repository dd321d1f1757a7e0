#!/usr/bin/env python3
"""Starts the installed program on the X display in DISPLAY, waits for its main window, closes that
window through the window manager protocol (as the close box does) and checks the exit code and the
settings file the exit wrote.

usage: start_and_close.py INSTALLED_PREFIX
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import (  # noqa: E402
    MAIN_TITLE, SENDER_KEYS, Prefix, Program, check, read_ini, run_test, step)


def main():
    check(len(sys.argv) == 2, __doc__)
    with Prefix(sys.argv[1], "start") as prefix:
        check(not os.path.exists(prefix.ini), prefix.ini + " exists before the first start")
        with Program(prefix) as program:
            main_window = program.wait_window(MAIN_TITLE)
            step("main window shown: " + MAIN_TITLE)
            # No error box stands in front of it.
            program.expect_only(MAIN_TITLE)
            program.close(main_window)
            code = program.wait_exit()
        check(code == 0, "exit code %d" % code)
        step("exit code 0")

        check(os.path.isfile(prefix.ini), prefix.ini + " was not written at exit")
        sections = read_ini(prefix.ini)
        check("Main" in sections, "no section Main in " + prefix.ini)
        check(sorted(sections["Main"]) == sorted(SENDER_KEYS), "keys of Main: %s" % sorted(sections["Main"]))
        filled = {k: v for k, v in sections["Main"].items() if v != ""}
        check(not filled, "keys not empty: %s" % filled)
        step("Kelvaro.ini: section Main with the eleven sender keys, all empty")


if __name__ == "__main__":
    run_test(main)
