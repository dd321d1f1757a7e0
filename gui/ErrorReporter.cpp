#include "gui/ErrorReporter.h"

#include "data/Error.h"
#include "gui/MessageBox.h"

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
    MessageBox::showError(errorBoxText(messageOf(e)));
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
