#pragma once

#include <QString>
#include <utility>
#include <variant>

namespace telvar {

// An error as the reports show it: a number, the component that raised it
// (the "source" line of a report) and its description.
struct Error {
    long long number = 0;
    QString source;
    QString description;
    // True when the failure is one that waiting can mend: the server
    // unreachable or the connection lost, the file locked or busy, a lock or
    // statement timeout. A caller may then try again later rather than give
    // up.
    bool retryable = false;
};

// Result of an operation that can fail: either a value or a Error.
template <typename T> class Result {
public:
    Result(T value) : m_data(std::move(value)) {}
    Result(Error error) : m_data(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_data); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(m_data); }
    T& value() { return std::get<T>(m_data); }
    const Error& error() const { return std::get<Error>(m_data); }

private:
    std::variant<T, Error> m_data;
};

// Result of an operation that yields nothing but can fail.
class Status {
public:
    Status() = default;
    Status(Error error) : m_failed(true), m_error(std::move(error)) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return m_error; }

private:
    bool m_failed = false;
    Error m_error;
};

} // namespace telvar
