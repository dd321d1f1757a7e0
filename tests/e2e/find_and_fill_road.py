#!/usr/bin/env python3
"""Finding and filling members on the installed program, on a private copy of the installed folder:
import a UTF-8 CSV file with a byte-order mark; find a member by her reading typed in hiragana
(stored in katakana) and note her; type a postal code that covers two towns and pick the second
from the list; clear the roster; restore it from the safety copy taken before the clearing. The
tables are read with the sqlite3 tool after each step. The postal codes come from the dictionary
of Debian's skkdic-extra package (scripts/deps.sh installs it).

usage: find_and_fill_road.py INSTALLED_PREFIX
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import MAIN_TITLE, ROSTER_TITLE, Prefix, Program, check, fail, query, run_test, step  # noqa: E402

MAIN_CLIENT = 234
ROSTER_CLIENT = 511
DICTIONARY = "/usr/share/skk/SKK-JISYO.zipcode"

# The sought member comes third, so that finding her moves the roster; the second has no address.
MEMBERS = [
    ["1", "佐藤一郎", "サトウイチロウ", "060-0806", "北海道札幌市北区北6条西4", "", "011-222-3333", ""],
    ["2", "鈴木次郎", "スズキジロウ", "", "", "", "06-6345-1111", ""],
    ["3", "山田花子", "ヤマダハナコ", "150-0001", "東京都渋谷区神宮前1-2-3", "", "03-1234-5678", ""],
]


def roster_rows(prefix):
    return query(prefix.table("MemberMaster"),
                 "SELECT id_no, name, zip, address1, notes FROM MemberMaster ORDER BY id_no")


def main():
    if len(sys.argv) != 2:
        fail(__doc__)
    check(os.path.isfile(DICTIONARY), DICTIONARY + " is missing (scripts/deps.sh installs skkdic-extra)")
    with Prefix(sys.argv[1], "find") as prefix:
        csv = os.path.join(prefix.work, "members-utf8.csv")
        with open(csv, "wb") as f:
            f.write(b"\xef\xbb\xbf")
            for line in MEMBERS:
                f.write(",".join(line).encode("utf-8") + b"\r\n")

        with Program(prefix) as app:
            step("roster: import a UTF-8 file with a byte-order mark")
            main_window = app.wait_window(MAIN_TITLE)
            app.click_client(main_window, MAIN_CLIENT, 80 + 88, 144 + 24)  # btnMemberReg
            roster = app.wait_window(ROSTER_TITLE)
            app.click_client(roster, ROSTER_CLIENT, 64 + 68, 16 + 12)  # btnMarge
            dialog, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            app.type(dialog, csv)
            app.key(dialog, "Return")
            app.wait_gone(dialog, '"%s"' % title)
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            rows = roster_rows(prefix)
            check([r[:2] for r in rows] == [(m[0], m[1]) for m in MEMBERS] and rows[2][2:4] == (MEMBERS[2][3], MEMBERS[2][4]),
                  "after the import: %s" % rows)

            step("roster: find the member by her reading typed in hiragana, and note her")
            app.click_client(roster, ROSTER_CLIENT, 300, 400)  # the grid, below its rows
            app.key(roster, "ctrl+Home", "ctrl+f")
            app.type(roster, "はなこ")
            app.key(roster, "Escape", "Home", *["Right"] * 8, "F2", "ctrl+a")
            app.type(roster, "found")
            app.key(roster, "Return")  # writes the cell and presses 登録
            rows = roster_rows(prefix)
            check([r[4] or "" for r in rows] == ["", "", "found"], "after finding はなこ: %s" % rows)

            step("roster: a postal code of two towns, the second picked from the list")
            app.key(roster, "ctrl+Home", "Down", "Right", "Right", "Right", "F2", "ctrl+a")
            app.type(roster, "4980000")
            app.key(roster, "Tab")  # leaves the cell: the towns are offered
            towns, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            check(title == "住所の選択", "the window offered is %r" % title)
            app.key(towns, "Down", "Return")
            app.wait_gone(towns, title)
            app.key(roster, "Return")  # 登録
            rows = roster_rows(prefix)
            # Typed without its hyphen, kept as the waybill's boxes print it.
            check(rows[1][2:4] == ("498-0000", "三重県桑名郡木曽岬町"), "after the postal code: %s" % rows)
            filled = rows

            step("roster: clear every member")
            # F10 opens the first menu; Right opens データ管理 on its first item.
            app.key(roster, "F10", "Right", "Return")  # データ管理 → 全名簿データ消去
            confirm, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            check(title == "警告", "the window asking is %r" % title)
            app.key(confirm, "Return")  # はい
            app.wait_gone(confirm, title)
            check(roster_rows(prefix) == [], "after clearing: %s" % roster_rows(prefix))
            copies = sorted(os.listdir(os.path.join(prefix.path, "Dostrel", "backup")))
            check(len(copies) == 2, "safety copies: %s (one before the import, one before the clearing)" % copies)

            step("roster: restore the copy taken before the clearing")
            app.key(roster, "F10", "Right", "Down", "Return")  # データ管理 → バックアップから復元...
            chooser, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            check(title == "バックアップから復元", "the window offered is %r" % title)
            app.key(chooser, "Return")  # the newest copy
            app.wait_gone(chooser, title)
            confirm, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            app.key(confirm, "Return")  # はい
            app.wait_gone(confirm, title)
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            rows = roster_rows(prefix)
            check(rows == filled, "after restoring: %s, expected %s" % (rows, filled))

            step("exit")
            app.close(roster)
            app.wait_gone(roster, ROSTER_TITLE)
            app.close(main_window)
            check(app.wait_exit() == 0, "the program's exit code")


if __name__ == "__main__":
    run_test(main)
