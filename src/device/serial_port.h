#pragma once
// CSerialPort: the module's serial line (115200 baud, 8N1, no flow control) on a POSIX tty. Open
// takes the device for this process alone and starts a monitor thread that sleeps in poll() until
// bytes arrive, then reads everything queued and hands it to the receive callback. Write blocks
// until the bytes are with the driver. Open, Close and Write run on the dialog thread; the
// callbacks run on the monitor thread. Results are 0 or an error code (errno values from the
// system, 6 when the port is not open or a monitor already runs).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Line error flags delivered with a batch (the values the module's tools have always used).
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;

constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidArgument = 0x80070057;

class CSerialPort {
  public:
    // Called on the monitor thread for each batch of received bytes:
    // (context, byte count, line error flags, bytes). The bytes belong to the port and are valid
    // during the call only.
    using ReceiveCallback = void (*)(void* context, uint32_t count, uint32_t errors,
                                     const uint8_t* bytes);
    // Called once on the monitor thread when the device goes away (unplugged, or the other end
    // of a pseudo-terminal closed). The port stays open, reads nothing more, and can be closed.
    using DisconnectCallback = void (*)(void* context);

    CSerialPort() = default;
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Set once before the first Open.
    void SetCallbackContext(void* context) { m_callbackContext = context; }
    // Opens `name` exclusively (TIOCEXCL and an flock), configures it and starts the monitor.
    // Returns 0 when already open (nothing else happens), the errno of a failed open or lock
    // (the port stays closed), or the result of starting the monitor.
    uint32_t Open(const std::string& name);
    // Raw mode, 115200 8N1, no flow control, DTR and RTS dropped. Stops at the first failure
    // but never fails Open; a pseudo-terminal's lack of baud rate and modem lines is no failure.
    uint32_t Configure();
    // Starts the monitor thread; 6 if one runs already.
    uint32_t StartMonitor();
    // Discards pending input and output, waits 100 ms, stops the monitor (about 0.5 s: the
    // thread's own pause after purging) and closes the device.
    void Close();
    // Asks the monitor to stop and waits for it; `timeoutMs` bounds the wait that is reported.
    uint32_t StopMonitor(uint32_t timeoutMs);
    // Writes all bytes and waits until the driver has sent them (at most 2 s when the line does
    // not drain). 0 on success, 6 when not open, else the errno.
    uint32_t Write(uint32_t count, const uint8_t* data, uint32_t* written);
    // Discards received (rx) and/or unsent (tx) bytes.
    uint32_t Purge(int rx, int tx);
    int IsOpen() const { return m_isOpen; }
    const std::string& PortName() const { return m_portName; }
    uint32_t LastError() const { return m_lastError; }
    // True once the monitor has seen the device go away in this session.
    bool IsDisconnected() const { return m_isDisconnected.load(); }

    ReceiveCallback m_receiveCallback = nullptr;
    DisconnectCallback m_disconnectCallback = nullptr;

  private:
    void MonitorThread();
    uint32_t LineErrorsSinceLastBatch();

    std::unique_ptr<std::thread> m_hThread;
    void* m_callbackContext = nullptr;
    std::string m_portName;
    int m_hComm = -1;
    uint32_t m_baudRate = 115200;
    uint32_t m_stopBits = 0;
    uint32_t m_byteSize = 8;
    uint32_t m_parity = 0;
    uint32_t m_lastError = 0;
    int m_isOpen = 0;
    int m_hStopEvent = -1;  // eventfd; readable once the monitor is asked to stop
    std::atomic<bool> m_isDisconnected{false};
    // Line error counters at the last batch (monitor thread only).
    struct LineCounters {
        int frame = 0, parity = 0, overrun = 0, brk = 0;
    } m_lastCounters;
    bool m_hasCounters = false;

    std::mutex m_exitLock;  // guards m_isMonitorDone
    std::condition_variable m_exitSignal;
    bool m_isMonitorDone = false;
};
