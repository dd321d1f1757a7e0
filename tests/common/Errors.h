#pragma once

// The message of the error an action throws, for tests that compare it.

#include "data/Error.h"

#include <QString>

#include <functional>

// The message of the halvenna::Error that f throws; "<no error>" when it throws none.
inline QString errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const halvenna::Error& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}
