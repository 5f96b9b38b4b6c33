#pragma once
// CSerialPort: the module's serial line. Placeholder until the device link lands; it offers the
// operations the main dialog needs at start-up and close and never opens a device.
#include <cstdint>
#include <string>

class CSerialPort {
public:
    // Called on the monitor thread for each batch of received bytes:
    // (context, byte count, line error flags, bytes). The bytes belong to the port.
    using ReceiveCallback = void (*)(void* context, uint32_t count, uint32_t errors,
                                     const uint8_t* bytes);

    void SetCallbackContext(void* context) { m_callbackContext = context; }
    uint32_t Open(const std::string& name);
    void Close() {}
    uint32_t Write(uint32_t count, const uint8_t* data, uint32_t* written);
    int IsOpen() const { return 0; }

    ReceiveCallback m_receiveCallback = nullptr;

private:
    void* m_callbackContext = nullptr;
    std::string m_portName;
};
