#pragma once

// How a test uses the seams of the program's modal questions (gui/Seam.h): seams::begin() in init(),
// then answers queued on the seam that will be asked (MessageBox::seam().answer(QMessageBox::Ok)),
// what was asked read back from it (MessageBox::seam().requests()), and seams::end() in cleanup(),
// which fails the test when an answer was queued that nobody asked for.

#include "gui/Seam.h"

#include <QStringList>
#include <QtTest>

namespace seams {

// Every seam records what it is asked from now on, with nothing queued or recorded yet.
inline void begin()
{
    for (halvenna::SeamBase* s : halvenna::SeamBase::all())
        s->reset();
    halvenna::SeamBase::setRecording(true);
}

// The seams that still hold answers nobody asked for, with how many ("MessageBox: 1"), by name.
inline QStringList unusedAnswers()
{
    QStringList unused;
    for (const halvenna::SeamBase* s : halvenna::SeamBase::all())
        if (s->pendingAnswers() > 0)
            unused << QStringLiteral("%1: %2").arg(s->name()).arg(s->pendingAnswers());
    unused.sort();
    return unused;
}

// Fails the test when an answer was left unused; leaves every seam empty either way.
inline void end()
{
    const QStringList unused = unusedAnswers();
    for (halvenna::SeamBase* s : halvenna::SeamBase::all())
        s->reset();
    QVERIFY2(unused.isEmpty(), qPrintable(QStringLiteral("answers nobody asked for: ") + unused.join(u", ")));
}

} // namespace seams
