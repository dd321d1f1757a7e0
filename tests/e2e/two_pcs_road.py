#!/usr/bin/env python3
"""Two copies of the installed program, each in a folder of its own and on an X display of its own,
sharing one roster on a PostgreSQL server this test starts itself (Debian's postgresql package, run
as an unprivileged user): both import a file at the same time and every row of both is kept; both
edit member 5, the second store is refused and read again, and its next store goes through; a
member one adds, and a restore one makes, reach the other's grid without a key pressed there; a
member one copy clears and imports again is not overwritten by the other's store of the old one;
one clears the roster while the other browses it; the server is stopped in the middle of an import
and started again: an error box, every committed member whole, and the program goes on working. A
third copy whose settings file holds a password is refused at start: an error box, the password
nowhere on screen, and no connection made.

usage: two_pcs_road.py INSTALLED_PREFIX
"""
import ctypes
import glob
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import (  # noqa: E402
    ERROR_BOX_TITLE, MAIN_TITLE, ROSTER_TITLE, NamedPipe, Prefix, Program, check, fail, run_test, step)

from Xlib import display  # noqa: E402

MAIN_CLIENT = 234
ROSTER_CLIENT = 511
IMPORT_LIMIT = 300.0
# The import commits every 65,536 lines: before the server stops, the pipe gets one chunk and a part
# of the next; after, a few pages more (a page is 2,000 members) and its end.
BEFORE_STOP = 65_536 + 3_000
BIG_LINES = BEFORE_STOP + 7_000


class Server:
    """A PostgreSQL server of the test's own: a cluster in a temporary folder, listening only on a
    socket there, run as the user postgres when the test runs as root (the server refuses root)."""

    def __init__(self):
        bins = sorted(glob.glob("/usr/lib/postgresql/*/bin"), key=lambda p: int(p.split("/")[-2]))
        check(bins, "PostgreSQL is not installed (scripts/deps.sh installs the package postgresql)")
        self.bin = bins[-1]
        self.dir = tempfile.mkdtemp(prefix="halvenna-pg-", dir="/tmp")
        self.data = os.path.join(self.dir, "data")
        self.port = 30000 + os.getpid() % 20000
        self.account = pwd.getpwnam("postgres") if os.geteuid() == 0 else None
        os.makedirs(self.data)
        os.chmod(self.dir, 0o755)
        if self.account:
            for path in (self.dir, self.data):
                os.chown(path, self.account.pw_uid, self.account.pw_gid)
        self.run_as_server([os.path.join(self.bin, "initdb"), "-D", self.data, "-U", "halvenna", "--auth=trust",
                            "-E", "UTF8", "--locale=C", "-N"])
        self.proc = None
        self.start()
        self.psql("CREATE DATABASE halvenna", database="postgres")
        self.conninfo = "host=%s port=%d dbname=halvenna user=halvenna" % (self.dir, self.port)

    def demote(self):
        # The server ends with the test, whatever ends the test.
        ctypes.CDLL("libc.so.6").prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
        if self.account:
            os.setgroups([])
            os.setgid(self.account.pw_gid)
            os.setuid(self.account.pw_uid)
            ctypes.CDLL("libc.so.6").prctl(1, signal.SIGTERM)  # cleared by the change of user

    def run_as_server(self, command):
        done = subprocess.run(command, preexec_fn=self.demote, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check(done.returncode == 0, "%s failed: %s" % (command[0], done.stdout.decode(errors="replace")))

    def start(self):
        log = open(os.path.join(self.dir, "server.log"), "ab")
        self.proc = subprocess.Popen(
            [os.path.join(self.bin, "postgres"), "-D", self.data, "-k", self.dir, "-p", str(self.port),
             "-c", "listen_addresses=", "-c", "fsync=off", "-c", "full_page_writes=off"],
            preexec_fn=self.demote, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 60
        while self.psql("SELECT 1", database="postgres", must=False) is None:
            check(self.proc.poll() is None, "the server ended at start; see %s/server.log" % self.dir)
            check(time.monotonic() < deadline, "the server does not answer after 60 s")
            time.sleep(0.2)

    def stop(self):
        self.proc.send_signal(signal.SIGINT)  # fast shutdown: sessions ended, committed work kept
        self.proc.wait(timeout=60)

    def psql(self, sql, database="halvenna", must=True):
        done = subprocess.run([os.path.join(self.bin, "psql"), "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1",
                               "-h", self.dir, "-p", str(self.port), "-U", "halvenna", "-d", database, "-c", sql],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if done.returncode != 0:
            if must:
                fail("psql %r: %s" % (sql, done.stderr.decode(errors="replace")))
            return None
        return [line.split("|") for line in done.stdout.decode().splitlines()]

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


class ProgramOn(Program):
    """The installed program on the X display given, driven there."""

    def __init__(self, prefix, screen):
        self.screen = screen
        saved = os.environ.get("DISPLAY")
        os.environ["DISPLAY"] = screen
        try:
            super().__init__(prefix)
        finally:
            os.environ["DISPLAY"] = saved

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], check=True, env=dict(os.environ, DISPLAY=self.screen))


def second_display():
    """An Xvfb of the test's own beside the one the test runs on: (process, display name)."""
    for number in range(200, 260):
        if not os.path.exists("/tmp/.X%d-lock" % number):
            proc = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                try:
                    display.Display(":%d" % number).close()
                    return proc, ":%d" % number
                except Exception:  # not up yet
                    if proc.poll() is not None:
                        break
                    time.sleep(0.2)
            proc.kill()
    fail("no free display for a second Xvfb")


def member_line(i):
    return [str(i), "会員%d" % i, "カイイン", "%03d-%04d" % (i % 1000, i % 10000), "東京都千代田区%d" % i, "",
            "03-%04d-%04d" % (i % 10000, (i * 7) % 10000), ""]


def csv_bytes(ids):
    """The file's lines for these members, 10,000 at a time."""
    for start in range(0, len(ids), 10000):
        yield b"".join((",".join(member_line(i)) + "\r\n").encode("cp932") for i in ids[start:start + 10000])


def write_csv(path, ids):
    with open(path, "wb") as f:
        for data in csv_bytes(ids):
            f.write(data)


def open_roster(app):
    main_window = app.wait_window(MAIN_TITLE)
    app.click_client(main_window, MAIN_CLIENT, 80 + 88, 144 + 24)  # btnMemberReg
    return main_window, app.wait_window(ROSTER_TITLE)


def start_import(app, roster, csv):
    app.click_client(roster, ROSTER_CLIENT, 64 + 68, 16 + 12)  # btnMarge
    dialog, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
    app.type(dialog, csv)
    app.key(dialog, "Return")
    return dialog, title


def members(server, columns="id_no, name, name_kana, zip, address1, tel"):
    return server.psql('SELECT %s FROM "MemberMaster" ORDER BY id_no' % columns)


def check_whole(rows, what):
    """Every member stored equals its line of the file (the fields the table keeps)."""
    for row in rows:
        line = member_line(int(row[0]))
        wanted = [line[0], line[1], line[2], line[3], line[4], line[6]]
        if row != wanted:
            fail("%s: member %s is %s, its line %s" % (what, row[0], row, wanted))


def edit_name(app, roster, row, text):
    """Types text into the name cell of the grid's row (from 0) and stores it (Return presses 登録)."""
    app.click_client(roster, ROSTER_CLIENT, 300, 400)  # the grid
    app.key(roster, "ctrl+Home", *["Down"] * row, "Home", "Right", "F2", "ctrl+a")
    app.type(roster, text)
    app.key(roster, "Return")


def clear_roster(app, roster):
    app.key(roster, "F10", "Right", "Return")  # データ管理 → 全名簿データ消去
    confirm, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
    app.key(confirm, "Return")  # はい
    app.wait_gone(confirm, title)


def recreated_row_is_refused(server, one, roster1, two, roster2, pc1):
    """The second copy edits member 6 as it read it, as first imported; meanwhile the first clears the
    roster and imports a file that holds a member 6 again, made by the same kind of statement. The
    second copy's store is refused (an error box) and the new member 6 is kept as the file made it: a
    row made again is never taken for the one read before."""
    step("a member made again on one PC: the other's store of the old one is refused, nothing overwritten")
    two.click_client(roster2, ROSTER_CLIENT, 300, 400)
    two.key(roster2, "ctrl+Home", *["Down"] * 5, "Home", "Right", "F2", "ctrl+a")
    two.type(roster2, "stale-edit")  # not stored yet
    clear_roster(one, roster1)
    one.wait_until("the roster cleared", lambda: members(server, "id_no") == [], IMPORT_LIMIT)
    again = os.path.join(pc1.work, "again.csv")
    write_csv(again, list(range(1, 11)))
    dialog1, title1 = start_import(one, roster1, again)
    one.wait_gone(dialog1, title1)
    one.wait_until("members 1 to 10 made again", lambda: len(members(server, "id_no")) == 10, IMPORT_LIMIT)
    two.key(roster2, "Return")  # 登録: refused
    box = two.wait_window(ERROR_BOX_TITLE)
    two.key(box, "Return")
    two.wait_gone(box, ERROR_BOX_TITLE)
    rows = members(server)
    check([int(r[0]) for r in rows] == list(range(1, 11)), "members after the refused store: %s" % rows)
    check_whole(rows, "after the refused store of a member made again")
    two.expect_only(MAIN_TITLE, ROSTER_TITLE)
    one.expect_only(MAIN_TITLE, ROSTER_TITLE)


def edit_last_name(app, roster, text):
    """Types text into the name cell of the grid's last row and stores it."""
    app.click_client(roster, ROSTER_CLIENT, 300, 400)  # the grid
    app.key(roster, "ctrl+End", "Home", "Right", "F2", "ctrl+a")
    app.type(roster, text)
    app.key(roster, "Return")


def main():
    if len(sys.argv) != 2:
        fail(__doc__)
    installed = sys.argv[1]
    server = Server()
    xvfb, screen2 = second_display()
    try:
        step("the server's tables, made by the installed schema tool")
        tool = subprocess.run([os.path.join(installed, "halvenna_mktables"), "--server", server.conninfo],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        check(tool.returncode == 0, "halvenna_mktables: %s" % tool.stdout.decode(errors="replace"))
        with Prefix(installed, "pc1") as pc1, Prefix(installed, "pc2") as pc2:
            for prefix in (pc1, pc2):
                with open(prefix.ini, "wb") as f:
                    f.write(("[Dostrel]\r\nServer=%s\r\n" % server.conninfo).encode("cp932"))
            first = os.path.join(pc1.work, "first.csv")
            second = os.path.join(pc2.work, "second.csv")
            write_csv(first, list(range(1, 3001)))
            write_csv(second, list(range(3001, 6001)))

            with Program(pc1) as one, ProgramOn(pc2, screen2) as two:
                main1, roster1 = open_roster(one)
                main2, roster2 = open_roster(two)

                step("both import at the same time")
                dialog1, title1 = start_import(one, roster1, first)
                dialog2, title2 = start_import(two, roster2, second)
                one.wait_gone(dialog1, title1)
                two.wait_gone(dialog2, title2)
                one.wait_until("both files imported", lambda: len(members(server, "id_no")) == 6000, IMPORT_LIMIT)
                one.expect_only(MAIN_TITLE, ROSTER_TITLE)
                two.expect_only(MAIN_TITLE, ROSTER_TITLE)
                rows = members(server)
                check([int(r[0]) for r in rows] == list(range(1, 6001)), "members after both imports: %d" % len(rows))
                check_whole(rows, "after both imports")

                step("both edit member 5: the second store is refused and the row read again")
                two.click_client(roster2, ROSTER_CLIENT, 300, 400)
                two.key(roster2, "ctrl+Home", *["Down"] * 4, "Home", "Right", "F2", "ctrl+a")
                two.type(roster2, "pc-two")  # the second copy edits member 5 as read, not stored yet
                edit_name(one, roster1, 4, "pc-one")
                one.wait_until("the first store of member 5",
                               lambda: server.psql('SELECT name FROM "MemberMaster" WHERE id_no = 5') == [["pc-one"]])
                two.key(roster2, "Return")  # 登録: refused
                box = two.wait_window(ERROR_BOX_TITLE)
                two.key(box, "Return")
                two.wait_gone(box, ERROR_BOX_TITLE)
                check(server.psql('SELECT name FROM "MemberMaster" WHERE id_no = 5') == [["pc-one"]],
                      "the refused store changed member 5")
                version = int(server.psql('SELECT version FROM "MemberMaster" WHERE id_no = 5')[0][0])
                edit_name(two, roster2, 4, "pc-two")
                two.wait_until("member 5 stored again by the second copy (name pc-two, a new version)",
                               lambda: server.psql('SELECT name, version > %d FROM "MemberMaster" WHERE id_no = 5'
                                                   % version) == [["pc-two", "t"]])
                two.expect_only(MAIN_TITLE, ROSTER_TITLE)

                step("a member the first copy adds reaches the second's grid without a key pressed there")
                # The second copy's grid stands on its last row (member 6000) and is left alone.
                two.click_client(roster2, ROSTER_CLIENT, 300, 400)
                two.key(roster2, "ctrl+End")
                added = os.path.join(pc1.work, "added.csv")
                write_csv(added, [6001])
                dialog1, title1 = start_import(one, roster1, added)
                one.wait_gone(dialog1, title1)
                one.wait_until("member 6001 added", lambda: members(server, "id_no")[-1:] == [["6001"]])
                time.sleep(2)  # the notification, and nothing pressed on the second copy
                # Its last row is now member 6001: the name lands there (a grid that had not read
                # the addition would put it on member 6000).
                edit_last_name(two, roster2, "seen-by-two")
                two.wait_until("the second copy's store of its last row",
                               lambda: server.psql('SELECT id_no FROM "MemberMaster" WHERE name = \'seen-by-two\'') ==
                               [["6001"]])
                two.expect_only(MAIN_TITLE, ROSTER_TITLE)

                step("a restore on the first copy reaches the second's grid without a key pressed there")
                one.key(roster1, "F10", "Right", "Down", "Return")  # データ管理 → バックアップから復元...
                chooser, title = one.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
                one.key(chooser, "Return")  # the newest copy: taken before member 6001 was added
                confirm, _ = one.wait_new_window([MAIN_TITLE, ROSTER_TITLE, title])
                one.key(confirm, "Return")  # はい
                one.wait_until("the roster restored", lambda: members(server, "id_no")[-1:] == [["6000"]],
                               IMPORT_LIMIT)
                one.expect_only(MAIN_TITLE, ROSTER_TITLE)
                time.sleep(2)
                # The second copy no longer shows member 6001: its last row is member 6000 (a grid
                # still showing 6001 would answer with "…他の端末で削除されました").
                edit_last_name(two, roster2, "after-restore")
                two.wait_until("the second copy's store after the restore",
                               lambda: server.psql('SELECT id_no FROM "MemberMaster" WHERE name = \'after-restore\'') ==
                               [["6000"]])
                two.expect_only(MAIN_TITLE, ROSTER_TITLE)

                recreated_row_is_refused(server, one, roster1, two, roster2, pc1)

                step("one clears the roster while the other browses it")
                two.click_client(roster2, ROSTER_CLIENT, 300, 400)
                two.key(roster2, "ctrl+End")
                one.key(roster1, "F10", "Right", "Return")  # データ管理 → 全名簿データ消去
                confirm, title = one.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
                one.key(confirm, "Return")  # はい
                one.wait_gone(confirm, title)
                # The safety copy is taken first, then the roster cleared.
                one.wait_until("the roster cleared", lambda: members(server, "id_no") == [], IMPORT_LIMIT)
                two.key(roster2, "Page_Up", "Page_Up", "ctrl+Home", "Down")
                two.expect_only(MAIN_TITLE, ROSTER_TITLE)
                one.expect_only(MAIN_TITLE, ROSTER_TITLE)

                step("the second copy ends")
                two.close(roster2)
                two.wait_gone(roster2, ROSTER_TITLE)
                two.close(main2)
                check(two.wait_exit() == 0, "the second copy's exit code")

                step("the server stops in the middle of an import")
                # A named pipe held open: the import has committed its first chunk and waits for more
                # lines when the server stops, whatever its speed; the lines after the stop meet it.
                big = os.path.join(pc1.work, "big.csv")
                pipe = NamedPipe(big)
                for data in csv_bytes(list(range(1, BEFORE_STOP + 1))):
                    pipe.write(data)
                dialog1, title1 = start_import(one, roster1, big)
                one.wait_until("members committed", lambda: len(members(server, "id_no")) > 0, IMPORT_LIMIT,
                               interval=0.2)
                pipe.wait_written("the lines before the stop", IMPORT_LIMIT)
                server.stop()
                for data in csv_bytes(list(range(BEFORE_STOP + 1, BIG_LINES + 1))):
                    pipe.write(data)
                pipe.close()
                box = one.wait_window(ERROR_BOX_TITLE, IMPORT_LIMIT)
                server.start()
                rows = members(server)
                print("%d members committed before the server stopped" % len(rows), flush=True)
                check(0 < len(rows) < BIG_LINES, "the import had finished before the server stopped")
                check([int(r[0]) for r in rows] == list(range(1, len(rows) + 1)), "the committed members have gaps")
                check_whole(rows, "after the server stopped")
                one.key(box, "Return")
                one.wait_gone(box, ERROR_BOX_TITLE)
                # Further boxes may follow from windows that read the lost tables meanwhile.
                for _ in range(5):
                    extra = [w for w, name in one.windows() if name == ERROR_BOX_TITLE]
                    if not extra:
                        break
                    one.key(extra[0], "Return")
                    one.wait_gone(extra[0], ERROR_BOX_TITLE)
                    one.settle()  # a box that follows is on screen by now

                step("the program goes on once the server is back")
                small = os.path.join(pc1.work, "small.csv")
                write_csv(small, [900001, 900002])
                dialog1, title1 = start_import(one, roster1, small)
                one.wait_gone(dialog1, title1)
                one.wait_until("the import after the server came back",
                               lambda: members(server, "id_no")[-2:] == [["900001"], ["900002"]], IMPORT_LIMIT)
                one.expect_only(MAIN_TITLE, ROSTER_TITLE)
                one.close(roster1)
                one.wait_gone(roster1, ROSTER_TITLE)
                one.close(main1)
                check(one.wait_exit() == 0, "the first copy's exit code")

            step("a settings file with a password is refused at start, the password never shown")
            secret = "s3cret-pw"
            with Prefix(installed, "pc3") as pc3:
                with open(pc3.ini, "wb") as f:
                    f.write(("[Dostrel]\r\nServer=%s password=%s\r\n" % (server.conninfo, secret)).encode("cp932"))
                sessions = "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'halvenna'"
                before = server.psql(sessions)
                with Program(pc3) as three:
                    box = three.wait_window(ERROR_BOX_TITLE)
                    check(not any(secret in (name or "") for _, name in three.windows()), "a title shows the password")
                    check(server.psql(sessions) == before, "the refused setting was connected to")
                    three.key(box, "Return")
                    three.wait_gone(box, ERROR_BOX_TITLE)
                    main3 = three.wait_window(MAIN_TITLE)
                    three.expect_only(MAIN_TITLE)
                    check(server.psql(sessions) == before, "the refused setting was connected to")
                    three.close(main3)
                    check(three.wait_exit() == 0, "the third copy's exit code")
    finally:
        xvfb.kill()
        server.close()


if __name__ == "__main__":
    run_test(main)
