#include "data/Error.h"

#include <QDebug>
#include <QFileInfo>

#include <utility>

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

QString openProblem(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("ファイルがありません");
    if (info.isDir())
        return QStringLiteral("フォルダです");
    if (!info.isReadable())
        return QStringLiteral("読む権限がありません");
    return QStringLiteral("開けません");
}

namespace {

std::function<void(const std::exception&)>& unthrowableHandler()
{
    static std::function<void(const std::exception&)> handler;
    return handler;
}

} // namespace

void reportUnthrowable(const std::exception& e) noexcept
{
    try {
        if (unthrowableHandler())
            unthrowableHandler()(e);
        else
            qWarning().noquote() << messageOf(e);
    } catch (...) {
        qWarning("An error could not be reported");
    }
}

std::function<void(const std::exception&)> setUnthrowableHandler(std::function<void(const std::exception&)> handler)
{
    return std::exchange(unthrowableHandler(), std::move(handler));
}

QString messageOf(const std::exception& e)
{
    if (auto* ours = dynamic_cast<const Error*>(&e))
        return ours->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace halvenna
