#include "gui/ErrorReporter.h"

#include "data/Error.h"
#include "data/sql/SqlConnection.h"
#include "gui/MessageBox.h"

#include <QSet>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace halvenna {

namespace {

QString unknownErrorMessage()
{
    return QStringLiteral("不明なエラーが発生しました");
}

QString typeName(const std::exception& e)
{
    const char* mangled = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                          &std::free);
    return QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
}

} // namespace

void reportError(const std::exception& e)
{
    // While a box says a failure, the same failure met again (a lost server fails every window that
    // reads it while the box waits) is not stacked on top: the one box says it.
    const auto* engine = dynamic_cast<const sql::EngineError*>(&e);
    const QString text = errorBoxText(messageOf(e));
    const QString key = engine && engine->failure() == sql::Failure::Unreachable ? QStringLiteral("unreachable") : text;
    static QSet<QString> showing;
    if (showing.contains(key))
        return;
    showing.insert(key);
    struct Shown
    {
        const QString& key;
        ~Shown() { showing.remove(key); }
    } shown{key};
    MessageBox::showError(text);
}

void reportUnknownError()
{
    MessageBox::showError(errorBoxText(unknownErrorMessage()));
}

QString applicationErrorText(const std::exception& e)
{
    return QStringLiteral("%1: %2").arg(typeName(e), errorBoxText(messageOf(e)));
}

QString unknownApplicationErrorText()
{
    return errorBoxText(unknownErrorMessage());
}

} // namespace halvenna
