#pragma once

#include <QString>
#include <functional>
#include <stdexcept>

namespace halvenna {

// Every failure the user is told about is an Error carrying the message text shown to them.
// The one place that turns it into a message box is ErrorReporter (gui/ErrorReporter.h).
class Error : public std::runtime_error
{
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// A failure of the table engine (SQLite underneath): open, store, lock, I/O.
class DatabaseError : public Error
{
public:
    using Error::Error;
};

// A field value that cannot be converted to the kind asked for.
class ConversionError : public Error
{
public:
    using Error::Error;
};

// The text of the standard error box: the message followed by "." unless it is empty or already
// ends with a single-byte character at or below "." (a full stop, a blank, a line break...).
QString errorBoxText(const QString& message);

// Why a file cannot be opened for reading, in the user's words (the system's own are English):
// it is not there, it is a folder, it may not be read.
QString openProblem(const QString& path);

// The message of an error that is not ours (std::exception from the library).
QString messageOf(const std::exception& e);

// An error met where it cannot be thrown (a destructor that resumes bound controls): handed to the
// handler the application installs at start-up (its standard error box); until then written to the
// log. Never throws.
void reportUnthrowable(const std::exception& e) noexcept;
// Installs the handler; returns the one it replaces.
std::function<void(const std::exception&)> setUnthrowableHandler(std::function<void(const std::exception&)> handler);

} // namespace halvenna
