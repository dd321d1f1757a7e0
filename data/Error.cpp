#include "data/Error.h"

namespace halvenna {

QString errorBoxText(const QString& message)
{
    if (message.isEmpty())
        return message;
    const QChar last = message.back();
    // Single-byte characters in code page 932 are ASCII and half-width katakana (all above ".").
    if (last.unicode() <= u'.')
        return message;
    return message + u'.';
}

QString messageOf(const std::exception& e)
{
    if (auto* ours = dynamic_cast<const Error*>(&e))
        return ours->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace halvenna
