#pragma once

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <type_traits>

namespace halvenna {

// The one place that turns an error into the standard error box.
void reportError(const std::exception& e);
// For something thrown that is no std::exception.
void reportUnknownError();

// The text of the box of an aborted start-up: the error's kind and its message.
QString applicationErrorText(const std::exception& e);
QString unknownApplicationErrorText();

// Runs an action and reports whatever it throws, so that no error ever crosses Qt's event loop.
template <typename F> void guarded(F&& action) noexcept
{
    try {
        std::forward<F>(action)();
    } catch (const std::exception& e) {
        reportError(e);
    } catch (...) {
        reportUnknownError();
    }
}

// connect() for a user action: the handler (a member of receiver, or any callable) runs guarded.
// The signal's arguments are dropped: a handler only needs to know that it was called.
template <typename Sender, typename Signal, typename Receiver, typename Handler>
QMetaObject::Connection connectGuarded(const Sender* sender, Signal signal, Receiver* receiver, Handler handler)
{
    return QObject::connect(sender, signal, receiver, [receiver, handler] {
        guarded([&] {
            if constexpr (std::is_member_function_pointer_v<Handler>)
                (receiver->*handler)();
            else
                handler();
        });
    });
}

} // namespace halvenna
