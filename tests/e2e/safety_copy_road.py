#!/usr/bin/env python3
"""The roster's safety copies on the installed program, on a private copy of the installed folder:
import 300 members; clear the roster; try ten imports that store nothing (a character code page
932 lacks on line 1, a mistyped file name, an empty file, a byte-order mark alone); restore the copy
taken before the clearing, which must still be there; then damage that copy in its middle and see
it refused by an error box instead of being put over the roster. The tables are read with the
sqlite3 tool, the copies from their folders.

usage: safety_copy_road.py INSTALLED_PREFIX
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import (  # noqa: E402
    ERROR_BOX_TITLE, MAIN_TITLE, ROSTER_TITLE, Prefix, Program, check, fail, query, run_test, step, write_csv)

MAIN_CLIENT = 234
ROSTER_CLIENT = 511

MEMBERS = [[str(n), "会員%d" % n, "カイイン", "150-0001", "東京都渋谷区神宮前%d-2-3" % n, "ハイツ201", "03-1234-5678", ""]
           for n in range(1, 301)]


def roster_rows(prefix):
    return query(prefix.table("MemberMaster"), "SELECT id_no, name, address1 FROM MemberMaster ORDER BY id_no")


def copies(prefix):
    """{folder: {key: value}} of the safety copies kept."""
    backup = os.path.join(prefix.path, "Dostrel", "backup")
    found = {}
    for name in sorted(os.listdir(backup)):
        about = os.path.join(backup, name, "about.txt")
        if os.path.isfile(about):
            with open(about, encoding="utf-8") as f:
                found[os.path.join(backup, name)] = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    return found


def main():
    if len(sys.argv) != 2:
        fail(__doc__)
    with Prefix(sys.argv[1], "copies") as prefix:
        members_csv = os.path.join(prefix.work, "members.csv")
        write_csv(members_csv, MEMBERS)
        failing = []
        path = os.path.join(prefix.work, "utf8.csv")
        with open(path, "wb") as f:
            f.write("1,吉田𠮷雄,ヨシダヨシオ,150-0001,東京都渋谷区神宮前1-2-3,,03-1234-5678,\r\n".encode("utf-8"))
        failing.append((path, True))
        failing.append((os.path.join(prefix.work, "kaiin.cvs"), True))  # a name mistyped
        path = os.path.join(prefix.work, "empty.csv")
        open(path, "wb").close()
        failing.append((path, False))
        path = os.path.join(prefix.work, "bom.csv")
        with open(path, "wb") as f:
            f.write(b"\xef\xbb\xbf")
        failing.append((path, False))

        with Program(prefix) as app:
            main_window = app.wait_window(MAIN_TITLE)
            app.click_client(main_window, MAIN_CLIENT, 80 + 88, 144 + 24)  # btnMemberReg
            roster = app.wait_window(ROSTER_TITLE)

            def import_file(path):
                app.click_client(roster, ROSTER_CLIENT, 64 + 68, 16 + 12)  # btnMarge
                dialog, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
                app.type(dialog, path)
                app.key(dialog, "Return")
                app.wait_gone(dialog, '"%s"' % title)

            step("roster: import 300 members")
            import_file(members_csv)
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            full = roster_rows(prefix)
            check(len(full) == 300, "after the import: %d members" % len(full))

            step("roster: clear every member")
            app.key(roster, "F10", "Right", "Return")  # データ管理 → 全名簿データ消去
            confirm, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            check(title == "警告", "the window asking is %r" % title)
            app.key(confirm, "Return")  # はい
            app.wait_gone(confirm, title)
            check(roster_rows(prefix) == [], "after clearing: %s" % roster_rows(prefix))
            kept = copies(prefix)
            check([c["members"] for c in kept.values()] == ["0", "300"], "safety copies: %s" % kept)

            step("roster: ten imports that store nothing")
            for i in range(10):
                path, says = failing[i % len(failing)]
                import_file(path)
                if says:
                    box, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
                    check(title == ERROR_BOX_TITLE, "importing %s shows %r" % (path, title))
                    app.key(box, "Return")
                    app.wait_gone(box, title)
                app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            check(roster_rows(prefix) == [], "after the failed imports: %s" % roster_rows(prefix))
            check(copies(prefix) == kept, "the copies after ten failed imports: %s, were %s" % (copies(prefix), kept))

            step("roster: restore the copy taken before the clearing")
            app.key(roster, "F10", "Right", "Down", "Return")  # データ管理 → バックアップから復元...
            chooser, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            check(title == "バックアップから復元", "the window offered is %r" % title)
            app.key(chooser, "Return")  # the newest copy: the clearing's
            app.wait_gone(chooser, title)
            confirm, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            check(title == "警告", "the window asking is %r" % title)
            app.key(confirm, "Return")  # はい
            app.wait_gone(confirm, title)
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            check(roster_rows(prefix) == full, "after restoring: %d members" % len(roster_rows(prefix)))
            restored = copies(prefix)
            newest = restored[max(restored)]
            check(len(restored) == 3 and newest["reason"] == "バックアップから復元" and newest["members"] == "0",
                  "the copies after the restore: %s" % restored)

            step("roster: a copy damaged in its middle is refused")
            cleared = next(folder for folder, c in restored.items() if c["reason"] == "全名簿データ消去")
            table = os.path.join(cleared, "MemberMaster.db")
            size = os.path.getsize(table)
            check(size > 32 * 1024, "the copy's member table is only %d bytes" % size)
            with open(table, "r+b") as f:
                f.seek(size // 2 - 4096)
                f.write(b"\x5a" * 8192)
            app.key(roster, "F10", "Right", "Down", "Return")  # データ管理 → バックアップから復元...
            chooser, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            app.key(chooser, "Down", "Return")  # the second newest: the clearing's
            app.wait_gone(chooser, title)
            box, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            check(title == ERROR_BOX_TITLE, "choosing the damaged copy shows %r, not the error box" % title)
            app.key(box, "Return")
            app.wait_gone(box, title)
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            check(roster_rows(prefix) == full, "after refusing the damaged copy: %d members" % len(roster_rows(prefix)))
            check(copies(prefix) == restored, "the copies after the refusal: %s" % copies(prefix))

            step("exit")
            app.close(roster)
            app.wait_gone(roster, ROSTER_TITLE)
            app.close(main_window)
            check(app.wait_exit() == 0, "the program's exit code")


if __name__ == "__main__":
    run_test(main)
