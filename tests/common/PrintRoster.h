#pragma once

// The print window's world for tests that press its buttons: the two shipped templates copied
// beside the program (its folder is the fixture's), the sender's name, postal code and account
// symbol, and three members, all marked, the first with a contents row of two parcels.

#include "app/Program.h"
#include "common/DataFixture.h"
#include "data/SjisText.h"
#include "settings/SenderSettings.h"

#include <QFile>
#include <QStringList>
#include <QTest>

namespace printroster {

inline const QStringList& memberNames()
{
    static const QStringList names{QStringLiteral("山田太郎"), QStringLiteral("鈴木花子"), QStringLiteral("田中一郎")};
    return names;
}

// Lays it out in program (its folder, its sender settings and its data module are f's);
// templatesDir holds the shipped templates. False (the test failed) when a template could not be
// copied.
inline bool setUp(DataFixture& f, halvenna::Program& program, const QString& templatesDir)
{
    program.setFolder(f.dir.path() + u'/');
    program.dataModule = f.dm.get();
    for (const char* t : {"Invoice.Rav", "Account.Rav"})
        if (!QFile::copy(templatesDir + u'/' + QLatin1String(t), program.appDir + QLatin1String(t))) {
            QTest::qFail("a template could not be copied beside the program", __FILE__, __LINE__);
            return false;
        }
    program.senderSettings.SenderName = halvenna::sjis::fromUnicode(QStringLiteral("佐藤商店"));
    program.senderSettings.SenderZip = "123-4567";
    program.senderSettings.AccountNo1 = "00120";
    for (int id = 1; id <= 3; ++id) {
        f.addMember(id, memberNames().at(id - 1), QStringLiteral("150-0001"), QStringLiteral("03-1234-5678"));
        halvenna::Table& m = f.members();
        m.edit();
        m.setFieldValue(QStringLiteral("print"), halvenna::FieldValue::logical(true));
        m.post();
    }
    f.members().first();
    halvenna::Table& c = f.dm->tbContents;
    c.edit();
    c.setFieldValue(QStringLiteral("item"), halvenna::FieldValue::fromString(QStringLiteral("りんご")));
    c.setFieldValue(QStringLiteral("value"), halvenna::FieldValue::text("2"));
    c.post();
    return true;
}

} // namespace printroster
