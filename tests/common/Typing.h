#pragma once

#include <QString>
#include <QTest>
#include <QWidget>

// Types text as key presses, one character (or surrogate pair) a key, Japanese included:
// QTest::keyClicks only knows the Latin keys.
inline void typeText(QWidget* widget, const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString ch = text.mid(i, len);
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, ch, Qt::NoModifier);
        i += len - 1;
    }
}
