#include "device/serial_port.h"

namespace {
constexpr uint32_t kErrorInvalidHandle = 6;
}

uint32_t CSerialPort::Open(const std::string& name) {
    m_portName = name;
    return kErrorInvalidHandle;
}

uint32_t CSerialPort::Write(uint32_t, const uint8_t*, uint32_t* written) {
    if (written) *written = 0;
    return kErrorInvalidHandle;
}
