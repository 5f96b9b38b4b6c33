#pragma once
// Result<T>: what a call of the core that can fail returns when it also has a value to give:
// either the value or a failing Status (status.h) that says why there is none. A plain value:
// any thread, no lock.
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/status.h"

template <typename T>
class [[nodiscard]] Result {
  public:
    // Success with `value` (anything T is made from, so `return fd;` and `return "text";` work).
    template <typename U = T, std::enable_if_t<std::is_convertible_v<U&&, T> &&
                                                   !std::is_same_v<std::decay_t<U>, Status>,
                                               int> = 0>
    Result(U&& value) : m_value(std::forward<U>(value)) {}
    // A failure. A success Status brings no value, so it is taken as the failure it would be.
    Result(Status failure)
        : m_status(failure.IsOk() ? Status::Failure("no value was given") : std::move(failure)) {}

    bool IsOk() const { return m_value.has_value(); }
    explicit operator bool() const { return IsOk(); }

    // The value; only after IsOk.
    T& Value() & { return *m_value; }
    const T& Value() const& { return *m_value; }
    T&& Value() && { return std::move(*m_value); }
    T& operator*() & { return *m_value; }
    const T& operator*() const& { return *m_value; }

    // Success when IsOk, else the failure.
    const Status& GetStatus() const { return m_status; }
    // Empty on success.
    const std::string& Message() const { return m_status.Message(); }

  private:
    std::optional<T> m_value;
    Status m_status;
};
