#pragma once
// The system's errors: exceptions that carry the message text shown to the user.

#include <limits>
#include <stdexcept>
#include <string>

namespace tarvicon {

// Base class of every error the system raises with its own message.
class WException : public std::runtime_error {
public:
    explicit WException(const std::string& message) : std::runtime_error(message) {}
};

// Overflow and negative values where a count or index is needed.
class WRangeError : public WException {
public:
    WRangeError() : WException("Range check error") {}
    explicit WRangeError(const std::string& message) : WException(message) {}
};

// Raises a WException with the message; one place to break on.
[[noreturn]] void RaiseError(const std::string& message);

// Raises a WRangeError.
[[noreturn]] void RaiseRangeError();

// Returns value when it lies in [low, high]; raises a range error otherwise.
template <typename T, typename V>
T CheckedRange(V value) {
    if (value < static_cast<V>(std::numeric_limits<T>::min()) ||
        value > static_cast<V>(std::numeric_limits<T>::max()))
        RaiseRangeError();
    return static_cast<T>(value);
}

} // namespace tarvicon
