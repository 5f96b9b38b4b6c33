#include "platform/status.h"

#include <cstring>
#include <utility>

Status Status::Failure(std::string message, int code) {
    Status status;
    status.m_isFailure = true;
    status.m_message = std::move(message);
    status.m_code = code;
    return status;
}

Status Status::CallFailed(std::string_view call, int error) {
    std::string message(call);
    message.append(" failed: ");
    message.append(std::strerror(error));
    return Failure(std::move(message), error);
}
