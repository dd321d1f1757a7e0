#pragma once

// What a test checks of the boxes an action asked for through the message-box seam.

#include "gui/MessageBox.h"

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QtTest>

namespace errorboxes {

// Exactly one standard error box: caption "Halvenna", error icon, and text (with its final ".").
inline void expectOne(const QList<halvenna::MessageBox::Request>& boxes, const QString& text)
{
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().caption, QStringLiteral("Halvenna"));
    QCOMPARE(boxes.first().icon, QMessageBox::Critical);
    QCOMPARE(boxes.first().text, text);
}

// The same, for a text that holds a part the test cannot know (a time stamp): matched whole.
inline void expectOneMatching(const QList<halvenna::MessageBox::Request>& boxes, const QRegularExpression& text)
{
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().caption, QStringLiteral("Halvenna"));
    QCOMPARE(boxes.first().icon, QMessageBox::Critical);
    QVERIFY2(
        QRegularExpression(QRegularExpression::anchoredPattern(text.pattern())).match(boxes.first().text).hasMatch(),
        qPrintable(boxes.first().text));
}

} // namespace errorboxes
