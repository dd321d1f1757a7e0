#!/usr/bin/env python3
"""The whole road of a user through the installed program, on a private copy of the installed folder:
start; import four members from a code page 932 CSV file in the roster window; change a member's
telephone number and notes in the grid; open the print window; enter the sender's details in the
sender dialog; mark members; type one member's waybill contents and amount; bulk waybills and bulk
payment slips to PDF files through the report engine's output options; exit through the close box.
After each step it checks what the user relies on: the tables, the settings file and the PDF text.

usage: user_road.py INSTALLED_PREFIX
"""
import datetime
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_support import (  # noqa: E402
    MAIN_TITLE, OUTPUT_OPTIONS_TITLE, PRINT_TITLE, REPORT_STATUS_TITLE, ROSTER_TITLE, SENDER_KEYS, SENDER_TITLE,
    Prefix, Program, check, fail, pdf_pages, query, read_ini, run_test, squeeze, step, write_csv)

# Client heights of the windows (below their menu bars), for clicks at their controls' places.
MAIN_CLIENT = 234
ROSTER_CLIENT = 511
PRINT_CLIENT = 573

MEMBER_FIELDS = ["id_no", "name", "name_kana", "zip", "address1", "address2", "tel", "fax"]
PRINT_FIELDS = ["zip_f", "zip_r", "tel_f", "tel_m", "tel_r"]

# Four members; the second has no second address line. Numbers are not contiguous: they are the
# file's, not counted by the import.
MEMBERS = [
    ["3", "山田太郎", "ヤマダタロウ", "150-0001", "東京都渋谷区神宮前1-2-3", "ハイツ201", "03-1234-5678", "03-1234-5679"],
    ["7", "佐藤花子", "サトウハナコ", "060-0806", "北海道札幌市北区北6条西4", "", "011-222-3333", "011-222-3334"],
    ["12", "鈴木一郎", "スズキイチロウ", "530-0001", "大阪府大阪市北区梅田3-1-1", "梅田ビル12F", "06-6345-1111", ""],
    ["20", "髙橋真由美", "タカハシマユミ", "980-8577", "宮城県仙台市青葉区国分町1-8", "コーポ仙台101", "022-261-1111",
     "022-261-1112"],
]
# Derived by the record rules: postal code digits two spaces apart, telephone cut at its hyphens.
DERIVED = {
    "3": ["1  5  0", "0  0  0  1", "03", "1234", "5678"],
    "7": ["0  6  0", "0  8  0  6", "011", "222", "3333"],
    "12": ["5  3  0", "0  0  0  1", "06", "6345", "1111"],
    "20": ["9  8  0", "8  5  7  7", "022", "261", "1111"],
}

# A settings file from an earlier run with Japanese address lines, which the dialog keeps.
EARLIER_INI = ("[Main]\r\nSenderName=\r\nSenderZip=\r\nSenderAddress1=東京都千代田区丸の内1-1\r\n"
               "SenderAddress2=ハルヴェナビル5F\r\nSenderTel=\r\nSenderShopCode1=\r\nSenderShopCode2=\r\n"
               "CustomerCode=\r\nAccountNo1=\r\nAccountNo2=\r\nAccountNo3=\r\n")
SENDER = {
    "SenderName": "Tanaka Shoten", "SenderZip": "123-4567", "SenderAddress1": "東京都千代田区丸の内1-1",
    "SenderAddress2": "ハルヴェナビル5F", "SenderTel": "0123-45-6789", "SenderShopCode1": "041",
    "SenderShopCode2": "352", "CustomerCode": "9876543210", "AccountNo1": "00120", "AccountNo2": "3",
    "AccountNo3": "45678",
}


def members_in_table(prefix):
    return query(prefix.table("MemberMaster"),
                 "SELECT %s FROM MemberMaster ORDER BY id_no" % ", ".join(MEMBER_FIELDS + PRINT_FIELDS + ["notes"]))


def expected_member(line, tel=None, notes=None):
    fields = list(line)
    derived = list(DERIVED[line[0]])
    if tel is not None:
        fields[6] = tel
        derived[2:] = tel.split("-")
    return tuple(fields + derived + [notes])


def date_parts(day):
    after = day + datetime.timedelta(days=1)
    return (str(day.year), str(day.month), str(day.day), str(after.year), str(after.month), str(after.day))


def main():
    if len(sys.argv) != 2:
        fail(__doc__)
    with Prefix(sys.argv[1], "road") as prefix:
        csv = os.path.join(prefix.work, "members.csv")
        write_csv(csv, MEMBERS)
        with open(prefix.ini, "wb") as f:
            f.write(EARLIER_INI.encode("cp932"))
        waybills_pdf = os.path.join(prefix.work, "waybills.pdf")
        slips_pdf = os.path.join(prefix.work, "slips.pdf")

        with Program(prefix) as app:
            step("start")
            main_window = app.wait_window(MAIN_TITLE)
            app.expect_only(MAIN_TITLE)

            step("roster: import the CSV file")
            app.click_client(main_window, MAIN_CLIENT, 80 + 88, 144 + 24)  # btnMemberReg
            roster = app.wait_window(ROSTER_TITLE)
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            app.click_client(roster, ROSTER_CLIENT, 64 + 68, 16 + 12)  # btnMarge
            dialog, title = app.wait_new_window([MAIN_TITLE, ROSTER_TITLE])
            app.type(dialog, csv)
            app.key(dialog, "Return")
            app.wait_gone(dialog, '"%s"' % title)
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            stored = members_in_table(prefix)
            expected = [expected_member(m) for m in sorted(MEMBERS, key=lambda m: int(m[0]))]
            check(stored == expected, "after the import the roster holds %s, expected %s" % (stored, expected))
            marks = query(prefix.table("MemberMaster"), "SELECT print FROM MemberMaster")
            check(marks == [(None,)] * 4, "the import set print marks: %s" % marks)

            step("roster: change the third member's telephone and notes in the grid")
            # Into the grid below its rows (the current cell stays), then to the first cell.
            app.click_client(roster, ROSTER_CLIENT, 300, 400)
            app.key(roster, "ctrl+Home", "Down", "Down")
            app.key(roster, *["Right"] * 6, "F2", "ctrl+a")
            app.type(roster, "099-888-7777")
            app.key(roster, "Return")  # writes the cell and presses 登録
            app.key(roster, "Right", "Right", "F2", "ctrl+a")
            app.type(roster, "VIP")
            app.key(roster, "Return")
            app.expect_only(MAIN_TITLE, ROSTER_TITLE)
            stored = members_in_table(prefix)
            expected[2] = expected_member(MEMBERS[2], tel="099-888-7777", notes="VIP")
            check(stored == expected, "after the grid edit the roster holds %s, expected %s" % (stored, expected))

            step("roster: close by its close box")
            app.close(roster)
            app.wait_gone(roster, ROSTER_TITLE)
            app.expect_only(MAIN_TITLE)

            step("print window: sender dialog")
            app.click_client(main_window, MAIN_CLIENT, 80 + 88, 72 + 24)  # btnKelvaro
            invoice = app.wait_window(PRINT_TITLE)
            app.expect_only(MAIN_TITLE, PRINT_TITLE)
            app.key(invoice, "F10", "Right", "Down", "Return")  # 設定 → 差出人設定
            sender = app.wait_window(SENDER_TITLE)
            app.expect_only(MAIN_TITLE, PRINT_TITLE, SENDER_TITLE)
            # The boxes in their tab order; Tab selects a box's text, so typing replaces it. The two
            # address lines keep what the settings file gave them.
            for key in SENDER_KEYS:
                if key not in ("SenderAddress1", "SenderAddress2"):
                    app.key(sender, "ctrl+a")
                    app.type(sender, SENDER[key])
                if key != SENDER_KEYS[-1]:
                    app.key(sender, "Tab")
            app.key(sender, "Return")  # OK
            app.wait_gone(sender, SENDER_TITLE)
            app.expect_only(MAIN_TITLE, PRINT_TITLE)
            ini = read_ini(prefix.ini)
            check(ini.get("Main") == SENDER, "Kelvaro.ini after OK holds %s, expected %s" % (ini, SENDER))

            step("print window: mark all, unmark the second member, contents and amount of the third")
            app.click_client(invoice, PRINT_CLIENT, 232 + 36, 80 + 10)  # btnAllCheck
            marks = query(prefix.table("MemberMaster"), "SELECT id_no, print FROM MemberMaster ORDER BY id_no")
            check(marks == [("3", "1"), ("7", "1"), ("12", "1"), ("20", "1")], "after すべて the marks are %s" % marks)
            app.click_client(invoice, PRINT_CLIENT, 100, 500)  # the member grid, below its rows
            app.key(invoice, "ctrl+Home", "Down")
            app.click_client(invoice, PRINT_CLIENT, 208 + 60, 56 + 8)  # dbcbPrintEnb
            app.click_client(invoice, PRINT_CLIENT, 100, 500)  # back to the grid: on to the next member
            app.key(invoice, "Down")
            app.click_client(invoice, PRINT_CLIENT, 200 + 32 + 200, 248 + 144 + 12)  # DBEdit4, item
            app.type(invoice, "Books")
            app.click_client(invoice, PRINT_CLIENT, 200 + 32 + 30, 248 + 200 + 11)  # dbcmbValue, parcels
            app.key(invoice, "ctrl+a")
            app.type(invoice, "2")
            app.click_client(invoice, PRINT_CLIENT, 200 + 32 + 48, 480 + 49 + 12)  # DBEdit3, amount
            app.type(invoice, "3000")
            app.expect_only(MAIN_TITLE, PRINT_TITLE)

            step("print window: bulk waybills to a PDF file")
            before = datetime.date.today()
            app.click_client(invoice, PRINT_CLIENT, 336 + 14 + 65, 40 + 32 + 20)  # btnInvoiceAllPrn
            to_pdf(app, waybills_pdf)
            app.expect_only(MAIN_TITLE, PRINT_TITLE)
            dates = {date_parts(before), date_parts(datetime.date.today())}

            marks = query(prefix.table("MemberMaster"), "SELECT id_no, print FROM MemberMaster ORDER BY id_no")
            check(marks == [("3", "1"), ("7", "0"), ("12", "1"), ("20", "1")],
                  "the marks after unmarking the second member: %s" % marks)
            contents = query(prefix.table("Contents"),
                             "SELECT id_no, item, value, receipt_year, receipt_month, receipt_day, delivery_year, "
                             "delivery_month, delivery_day FROM Contents")
            check(len(contents) == 1 and contents[0][:3] == ("12", "Books", "2") and tuple(contents[0][3:]) in dates,
                  "Contents holds %s, expected member 12 with Books, 2 parcels and today's dates" % contents)
            account = query(prefix.table("Account"), "SELECT id_no, amount, amount_prn FROM Account")
            check(account == [("12", "3000", "3 0 0 0")], "Account holds %s" % account)
            staged = query(prefix.table("PrintMember"),
                           "SELECT %s, item, value FROM PrintMember ORDER BY rowid" % ", ".join(MEMBER_FIELDS + PRINT_FIELDS))
            # Member 7 is unmarked; member 12 asked for two parcels, so two sheets.
            staged_expected = [expected[0][:13] + (None, None)] + [expected[2][:13] + ("Books", "2")] * 2 + \
                              [expected[3][:13] + (None, None)]
            check(staged == staged_expected, "PrintMember after bulk waybills holds %s, expected %s" %
                  (staged, staged_expected))

            pages = pdf_pages(waybills_pdf)
            sheet_members = [MEMBERS[0], MEMBERS[2], MEMBERS[2], MEMBERS[3]]
            check(len(pages) == len(sheet_members), "%s has %d pages, expected %d" %
                  (waybills_pdf, len(pages), len(sheet_members)))
            for page, member in zip(pages, sheet_members):
                text = squeeze(page)
                wanted = [member[1], member[4], member[5], squeeze(expected_zip(member)), SENDER["SenderName"],
                          SENDER["SenderAddress1"], SENDER["SenderAddress2"], "1234567", "0123456789",
                          SENDER["SenderShopCode1"], SENDER["SenderShopCode2"], SENDER["CustomerCode"]]
                missing = [w for w in wanted if squeeze(w) not in text]
                check(not missing, "a waybill page lacks %s:\n%s" % (missing, page))
                others = [m[1] for m in MEMBERS if m[1] != member[1] and m[1] in text]
                check(not others, "the waybill page of %s also names %s" % (member[1], others))
            check("Books" in pages[1] and "Books" in pages[2], "the contents 'Books' are not on member 12's sheets")
            check("099" in pages[1] and "7777" in pages[1], "member 12's new telephone is not on the waybill")

            step("print window: bulk payment slips to a PDF file")
            app.click_client(invoice, PRINT_CLIENT, 504 + 14 + 65, 40 + 32 + 20)  # btnAccountAllPrn
            to_pdf(app, slips_pdf)
            app.expect_only(MAIN_TITLE, PRINT_TITLE)
            staged = query(prefix.table("PrintMember"), "SELECT id_no, name, amount, amount_prn FROM PrintMember "
                           "ORDER BY rowid")
            check(staged == [("3", "山田太郎", None, None), ("12", "鈴木一郎", "3000", "3 0 0 0"),
                             ("20", "髙橋真由美", None, None)], "PrintMember after bulk payment slips holds %s" % staged)
            pages = pdf_pages(slips_pdf)
            slip_members = [MEMBERS[0], MEMBERS[2], MEMBERS[3]]
            check(len(pages) == len(slip_members), "%s has %d pages, expected %d" %
                  (slips_pdf, len(pages), len(slip_members)))
            for page, member in zip(pages, slip_members):
                text = squeeze(page)
                wanted = [member[1], member[4], SENDER["SenderName"], "00120", "45678"]
                missing = [w for w in wanted if squeeze(w) not in text]
                check(not missing, "a payment-slip page lacks %s:\n%s" % (missing, page))
                others = [m[1] for m in MEMBERS if m[1] != member[1] and m[1] in text]
                check(not others, "the payment slip of %s also names %s" % (member[1], others))
            check("3000" in squeeze(pages[1]), "the amount 3000 is not on member 12's payment slip:\n" + pages[1])
            check("3000" not in squeeze(pages[0]) + squeeze(pages[2]), "an amount on a slip of a member without one")

            step("exit: close the print window, then the main window by its close box")
            app.close(invoice)
            app.wait_gone(invoice, PRINT_TITLE)
            app.expect_only(MAIN_TITLE)
            app.close(main_window)
            code = app.wait_exit()
            check(code == 0, "exit code %d" % code)

        ini = read_ini(prefix.ini)
        check(list(ini) == ["Main"] and ini["Main"] == SENDER,
              "Kelvaro.ini after exit holds %s, expected section Main with %s" % (ini, SENDER))
        check(open(prefix.ini, "rb").read().decode("cp932").count("丸の内") == 1,
              "the Japanese address is not in Kelvaro.ini in code page 932")
        for table in ("MemberMaster", "Contents", "Account", "PrintMember"):
            result = query(prefix.table(table), "PRAGMA integrity_check")
            check(result == [("ok",)], "%s.db: integrity_check gives %s" % (table, result))
        check(members_in_table(prefix) == expected, "the roster changed at exit")


def expected_zip(member):
    return "".join(member[3].split("-"))


def to_pdf(app, path):
    """Answers the report engine's "Output Options" with a file and waits until it is written."""
    options = app.wait_window(OUTPUT_OPTIONS_TITLE)
    app.key(options, "alt+f", "alt+n", "ctrl+a")  # destination File (PDF), its file name box
    app.type(options, path)
    app.key(options, "Return")  # OK, the default button
    app.wait_gone(options, OUTPUT_OPTIONS_TITLE)
    app.wait_until("the PDF file %s to be written" % path,
                   lambda: os.path.isfile(path) and REPORT_STATUS_TITLE not in app.titles())


if __name__ == "__main__":
    run_test(main)
