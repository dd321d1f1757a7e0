#pragma once

// Shared by the tests of the windows a postal code is typed into (the roster's grid, the sender
// dialog): a small dictionary of the package's kind, so that the lookup never reads the machine's
// files, and the ways a code can be typed with what must be kept of each.
#include "roster/postal/PostalCodeLookup.h"

#include <QFile>
#include <QString>
#include <QStringEncoder>
#include <QTest>

namespace postaltest {

// Writes a dictionary of two codes, one of one town and one of two, to dictionary and points the
// window's lookup at it (and at ownList for the list read beside the program, which need not exist).
inline void useDictionary(halvenna::PostalCodeLookup& lookup, const QString& dictionary, const QString& ownList)
{
    QFile out(dictionary);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QStringEncoder euc("EUC-JP");
    const QByteArray bytes = euc(QStringLiteral(";; okuri-nasi entries.\n1500001 /東京都渋谷区神宮前/\n"
                                                "4980000 /愛知県弥富市/三重県桑名郡木曽岬町/\n"));
    QVERIFY(!euc.hasError());
    QVERIFY(out.write(bytes) == bytes.size());
    out.close();
    lookup.setFiles(ownList, dictionary);
}

// The rows "typed", "kept" and "filled": a code the lookup reads is kept as the waybill's boxes
// print it, 150-0001, however it was typed (without its hyphen, after 〒, with the kana hyphen, in
// full width, with blanks around), and fills the first address line; anything else stays as typed.
inline void typedCodes()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("filled");
    const QString shibuya = QStringLiteral("東京都渋谷区神宮前");
    QTest::newRow("without the hyphen") << "1500001"
                                        << "150-0001" << shibuya;
    QTest::newRow("after 〒") << "〒150-0001"
                              << "150-0001" << shibuya;
    QTest::newRow("kana hyphen") << "150ー0001"
                                 << "150-0001" << shibuya;
    QTest::newRow("full width") << "１５０－０００１"
                                << "150-0001" << shibuya;
    QTest::newRow("blanks around") << " 150-0001 "
                                   << "150-0001" << shibuya;
    QTest::newRow("a code the data does not know") << "9999999"
                                                   << "999-9999" << QString();
    QTest::newRow("no code") << "15O-0001"
                             << "15O-0001" << QString();
}

} // namespace postaltest
