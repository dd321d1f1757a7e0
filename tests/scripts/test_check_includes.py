#!/usr/bin/env python3
"""The include check catches each way an include can run the wrong way, and passes a sound tree."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check_includes.py")


def run_on(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)
        out = subprocess.run([sys.executable, SCRIPT, "--root", root], capture_output=True, text=True)
        return out.returncode, out.stdout


SOUND = {
    "data/Table.h": '#include "data/FieldValue.h"\n#include <QString>\n#include <QImage>\n',
    "roster/import/MemberImport.cpp": '#include "data/Table.h"\n#include "roster/import/CsvLineReader.h"\n'
    '#include "roster/model/RecordRules.h"\n#include "settings/IniFile.h"\n',
    "printing/jobs/PrintJobs.cpp": '#include "report/ReportProject.h"\n#include "roster/model/DataModule.h"\n',
    "report/ReportDocument.cpp": '#include "report/ReportTemplate.h"\n#include <QPdfWriter>\n#include <QAction>\n',
    "gui/DbGrid.cpp": '#include "data/Table.h"\n#include "gui/MessageBox.h"\n#include <QTableView>\n',
    "roster/MemberMaster.cpp": '#include "gui/DbGrid.h"\n#include "roster/import/MemberImport.h"\n'
    '#include "roster/SafetyCopyDialog.h"\n#include "report/dialogs/ReportPreview.h"\n',
    "printing/Invoice.cpp": '#include "report/dialogs/StandardReportOutput.h"\n#include "printing/jobs/PrintJobs.h"\n',
    "app/Top.cpp": '#include "printing/Invoice.h"\n#include "gui/FormMenu.h"\n#include "moc_Top.cpp"\n',
    "programs/Kelvaro.cpp": '#include "app/Startup.h"\n',
    "tests/data/tst_x.cpp": '#include "app/Top.h"\n#include <QWidget>\n',
}


class IncludeRule(unittest.TestCase):
    def test_sound_tree_passes(self):
        code, out = run_on(SOUND)
        self.assertEqual((code, out), (0, ""))

    def test_each_wrong_way_is_caught(self):
        cases = [
            ("data/Bad.cpp", '#include "gui/MessageBox.h"\n', 'core file includes gui header'),
            ("printing/jobs/Bad.cpp", '#include "printing/Invoice.h"\n', 'core file includes windows header'),
            ("report/Bad.cpp", '#include "report/dialogs/ReportPreview.h"\n', 'core file includes windows header'),
            ("settings/Bad.h", '#include <QWidget>\n', 'core file includes widget header <QWidget>'),
            ("data/Bad2.cpp", '#include <QtWidgets/QDialog>\n', 'core file includes widget header'),
            ("roster/import/Bad.cpp", '#include <QPrinter>\n', 'core file includes widget header <QPrinter>'),
            ("gui/Bad.cpp", '#include "roster/MemberMaster.h"\n', 'gui file includes windows header'),
            ("roster/Bad.cpp", '#include "app/Sender.h"\n', 'windows file includes app header'),
            ("report/dialogs/Bad.cpp", '#include "app/AboutBox.h"\n', 'windows file includes app header'),
            ("newfolder/Thing.cpp", '#include "data/Table.h"\n', 'belongs to no layer'),
            ("gui/Bad2.cpp", '#include "../gui/DbGrid.h"\n', 'include climbs folders'),
            ("roster/Bad2.cpp", '#include "./roster/MemberMaster.h"\n', 'include climbs folders'),
            ("data/Bad3.cpp", '#include "data/../gui/MessageBox.h"\n', 'include climbs folders'),
            ("gui/Bad3.cpp", '#include "widgets/Grid.h"\n', 'include cannot be placed in a layer'),
            ("roster/Bad3.cpp", '#include "printing/Invoice.h"\n', "window includes another window's header"),
            ("printing/Bad.cpp", '#include "roster/MemberMaster.h"\n', "window includes another window's header"),
            ("report/dialogs/Bad2.cpp", '#include "printing/Invoice.h"\n', "window includes another window's header"),
            ("data/Bad4.cpp", '#include "roster/model/Schema.h"\n', 'core engine file includes core model header'),
            ("data/sql/Bad.cpp", '#include "settings/IniFile.h"\n', 'core engine file includes core settings header'),
            ("settings/Bad2.cpp", '#include "report/ReportTemplate.h"\n', 'core settings file includes core report header'),
            ("report/Bad2.cpp", '#include "settings/FormFitting.h"\n', 'core report file includes core settings header'),
            ("report/Bad3.cpp", '#include "roster/model/RecordRules.h"\n', 'core report file includes core model header'),
            ("roster/model/Bad.cpp", '#include "report/ReportProject.h"\n', 'core model file includes core report header'),
            ("roster/postal/Bad.cpp", '#include "printing/jobs/PrintJobs.h"\n', 'core model file includes core jobs header'),
        ]
        for path, text, message in cases:
            with self.subTest(path=path):
                code, out = run_on({**SOUND, path: text})
                self.assertEqual(code, 1, out)
                self.assertIn(path, out)
                self.assertIn(message, out)
                self.assertEqual(len(out.strip().splitlines()), 1, out)


if __name__ == "__main__":
    unittest.main()
