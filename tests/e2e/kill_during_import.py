#!/usr/bin/env python3
"""Kills the installed program (SIGKILL) in the middle of importing a CSV file of members, then
checks that nothing is half-written: every table passes SQLite's integrity check, the roster holds
exactly the first lines of the file, each member equal to its line, with its print fields derived;
and the program starts again without an error, opens its roster and ends cleanly.

The file is a named pipe the test holds open: the import has committed its first chunk and waits for
more lines when it is killed, whatever its speed.

usage: kill_during_import.py INSTALLED_PREFIX
"""
import os
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import (  # noqa: E402
    MAIN_TITLE, ROSTER_TITLE, TABLES, NamedPipe, Prefix, Program, check, fail, query, run_test, step)

# The import commits every 65,536 lines: the pipe gets one chunk and a part of the next, which the
# kill must undo.
LINES = 65_536 + 3_000
MAIN_CLIENT = 234
ROSTER_CLIENT = 511
# Rows must show within this long once the file is chosen (the sanitizer build is slow).
IMPORT_START_LIMIT = 300.0

SURNAMES = [("山田", "ヤマダ"), ("佐藤", "サトウ"), ("鈴木", "スズキ"), ("髙橋", "タカハシ"), ("渡邉", "ワタナベ"),
            ("伊藤", "イトウ"), ("中村", "ナカムラ"), ("小林", "コバヤシ"), ("加藤", "カトウ"), ("吉田", "ヨシダ")]
GIVEN = [("太郎", "タロウ"), ("花子", "ハナコ"), ("一郎", "イチロウ"), ("真由美", "マユミ"), ("健二", "ケンジ"),
         ("美咲", "ミサキ"), ("翔太", "ショウタ")]
PLACES = ["東京都渋谷区神宮前", "大阪府大阪市北区梅田", "北海道札幌市中央区北一条西", "福岡県福岡市博多区博多駅前",
          "宮城県仙台市青葉区国分町", "愛知県名古屋市中区栄"]
BUILDINGS = ["ハイツ", "コーポ", "メゾン", "第二ビル", "グランドマンション"]


def member_line(i):
    """The eight fields of the file's line i (from 0): the member number is i + 1."""
    surname, surname_kana = SURNAMES[i % len(SURNAMES)]
    given, given_kana = GIVEN[(i // len(SURNAMES)) % len(GIVEN)]
    return [
        str(i + 1),
        surname + given,
        surname_kana + given_kana,
        "%03d-%04d" % (i % 1000, (i * 7) % 10000),
        "%s%d-%d-%d" % (PLACES[i % len(PLACES)], i % 9 + 1, i % 30 + 1, i % 20 + 1),
        "%s%d号室" % (BUILDINGS[i % len(BUILDINGS)], 100 + i % 900),
        "0%d-%04d-%04d" % (i % 90 + 10, i % 10000, (i * 3) % 10000),
        "0%d-%04d-%04d" % (i % 90 + 10, (i + 1) % 10000, (i * 5) % 10000),
    ]


def derived(line):
    """The print fields the record rules give these regular postal codes and telephone numbers."""
    front, rear = line[3].split("-")
    tel = line[6].split("-")
    return ["  ".join(front), "  ".join(rear)] + tel


def feed_csv(pipe):
    for start in range(0, LINES, 10000):
        pipe.write(b"".join((",".join(member_line(i)) + "\r\n").encode("cp932")
                            for i in range(start, min(start + 10000, LINES))))


def member_count(prefix):
    return int(query(prefix.table("MemberMaster"), "SELECT count(*) FROM MemberMaster")[0][0])


def main():
    if len(sys.argv) != 2:
        fail(__doc__)
    with Prefix(sys.argv[1], "kill") as prefix:
        csv = os.path.join(prefix.work, "members.csv")
        step("%d lines through the named pipe %s, held open" % (LINES, csv))
        pipe = NamedPipe(csv)
        feed_csv(pipe)

        with Program(prefix) as app:
            step("start the import")
            main_window = app.wait_window(MAIN_TITLE)
            app.click_client(main_window, MAIN_CLIENT, 80 + 88, 144 + 24)  # btnMemberReg
            roster = app.wait_window(ROSTER_TITLE)
            app.click_client(roster, ROSTER_CLIENT, 64 + 68, 16 + 12)  # btnMarge
            dialog, _ = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            app.type(dialog, csv)
            app.key(dialog, "Return")

            step("wait for the first members to be committed")
            committed = app.wait_until("members committed to MemberMaster.db", lambda: member_count(prefix),
                                       IMPORT_START_LIMIT, interval=0.2)
            pipe.wait_written("the file's %d lines" % LINES, IMPORT_START_LIMIT)
            print("%d members committed; on screen: %s" % (committed, app.on_screen()), flush=True)
            os.kill(app.proc.pid, signal.SIGKILL)
            app.proc.wait()
            journal = prefix.table("MemberMaster") + "-journal"
            print("after the kill, %s %s" % (journal, "is there" if os.path.exists(journal) else "is not there"),
                  flush=True)
            check(app.proc.returncode == -signal.SIGKILL, "the program ended with %d" % app.proc.returncode)

        step("check the tables after the kill")
        for table in TABLES:
            result = query(prefix.table(table), "PRAGMA integrity_check")
            check(result == [("ok",)], "%s.db after the kill: integrity_check gives %s" % (table, result))
        rows = query(prefix.table("MemberMaster"),
                     "SELECT id_no, name, name_kana, zip, address1, address2, tel, fax, zip_f, zip_r, tel_f, tel_m, "
                     "tel_r, notes, print FROM MemberMaster ORDER BY id_no")
        kept = len(rows)
        print("%d members kept after the kill" % kept, flush=True)
        check(kept >= committed, "%d members were committed before the kill but only %d are kept" % (committed, kept))
        check(kept < LINES, "every line was kept although the pipe was never closed: the test proves nothing")
        for i, row in enumerate(rows):
            line = member_line(i)
            wanted = tuple(line + derived(line) + [None, None])
            if row != wanted:
                fail("member %d of %d is not line %d of the file: stored %s, line %s" % (i + 1, kept, i + 1, row, wanted))

        step("start again")
        with Program(prefix) as app:
            main_window = app.wait_window(MAIN_TITLE)
            app.settle()  # an error box from opening the tables would be on screen by now
            app.expect_only(MAIN_TITLE)
            app.click_client(main_window, MAIN_CLIENT, 80 + 88, 144 + 24)  # btnMemberReg
            roster = app.wait_window(ROSTER_TITLE)
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            app.close(roster)
            app.wait_gone(roster, ROSTER_TITLE)
            app.expect_only(MAIN_TITLE)
            app.close(main_window)
            code = app.wait_exit()
            check(code == 0, "exit code %d after the restart" % code)
        check(member_count(prefix) == kept, "the restart changed the roster's size")
        for table in TABLES:
            result = query(prefix.table(table), "PRAGMA integrity_check")
            check(result == [("ok",)], "%s.db after the restart: integrity_check gives %s" % (table, result))


if __name__ == "__main__":
    run_test(main)
