#pragma once
// Status: how a call of the core that can fail says whether it did. A failure carries one line
// for the user that names what failed, and on what where the caller does not add that itself,
// with the system's reason ("tcsetattr() failed: Input/output error"), plus the error number
// behind it for callers that act on the number (0 when there is none). Success carries
// nothing. A call that returns a value as well returns a Result<T> (result.h). A plain value:
// any thread, no lock.
#include <string>
#include <string_view>

class [[nodiscard]] Status {
  public:
    // Success.
    Status() = default;
    // A failure saying `message` (one line, not empty), with the error number `code` if any.
    static Status Failure(std::string message, int code = 0);
    // The system call `call` failed with errno `error`: "call failed: <the system's reason>".
    static Status CallFailed(std::string_view call, int error);

    bool IsOk() const { return !m_isFailure; }
    explicit operator bool() const { return IsOk(); }
    // Empty on success.
    const std::string& Message() const { return m_message; }
    // The error number of a failure; 0 on success and for failures without one.
    int Code() const { return m_code; }

  private:
    bool m_isFailure = false;
    std::string m_message;
    int m_code = 0;
};
