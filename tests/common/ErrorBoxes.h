#pragma once

// What a test checks of the boxes an action asked for through the message-box seam.

#include "gui/MessageBox.h"

#include <QList>
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

} // namespace errorboxes
