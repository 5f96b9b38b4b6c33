#pragma once
// CSerialPort: the module's serial line (115200 baud, 8N1, no flow control) on a POSIX tty. Open
// takes the device for this process alone and starts a monitor thread that sleeps in poll() until
// bytes arrive, then reads everything queued and hands it to the receive callback. Write blocks
// until the bytes are sent. Results are 0 or an error code (errno values from the system, 6 when
// the port is not open or a monitor already runs); LastStatus says the same in words, naming the
// call that failed. With THERMAL_TRACE set, every byte sent and received goes to standard error
// (link_trace.h).
//
// Threads: Open, Configure, StartMonitor, StopMonitor and Close belong to the owner thread (the
// session's). Write and Purge may run on any thread: the owner sends commands while the monitor
// thread's line-error recovery stops the module and purges the line from inside the receive
// callback. m_writeLock serialises those two, so the bytes of two writes never interleave and a
// purge never cuts into a write; m_statusLock guards the newest result. The callbacks run on the
// monitor thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "device/link_trace.h"
#include "platform/status.h"

// Line error flags delivered with a batch; names and bit values of the Windows serial API's CE_
// flags.
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;

constexpr uint32_t kErrorInvalidHandle = 6;

// The line's speed: the module talks at 115200 baud (B115200 below in Configure).
inline constexpr uint32_t kLineBaudRate = 115200;

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

    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Set once before the first Open.
    void SetCallbackContext(void* context) { m_callbackContext = context; }
    // Opens `name` exclusively (TIOCEXCL and an flock), configures it and starts the monitor.
    // Returns 0 when already open (nothing else happens: the open device keeps its name), the
    // errno of a failed open or lock (the port stays closed), or the result of starting the
    // monitor.
    uint32_t Open(const std::string& name);
    // Raw mode, 115200 8N1, no flow control, DTR and RTS dropped. Stops at the first failure
    // but never fails Open; a pseudo-terminal's lack of baud rate and modem lines is no failure.
    uint32_t Configure();
    // Starts the monitor thread; 6 if one runs already.
    uint32_t StartMonitor();
    // Discards pending input, waits 100 ms, stops the monitor (another 100 ms before it is
    // joined) and closes the device.
    void Close();
    // Asks the monitor to stop and waits for it; `timeoutMs` bounds the wait that is reported.
    uint32_t StopMonitor(uint32_t timeoutMs);
    // Writes all bytes and waits until the driver has sent them (at most 2 s when the line does
    // not drain). 0 on success, 6 when not open, else the errno. Any thread.
    uint32_t Write(uint32_t count, const uint8_t* data, uint32_t* written);
    // Discards received (rx) and/or unsent (tx) bytes. Any thread.
    uint32_t Purge(int rx, int tx);
    int IsOpen() const { return m_isOpen; }
    // The device given to the last Open; fixed while the port is open, so the monitor thread may
    // read it too.
    const std::string& PortName() const { return m_portName; }
    // The result of the newest Open, Configure, StartMonitor, Write or Purge on any thread.
    uint32_t LastError() const;
    // The same result in words: the call that failed and the system's reason ("tcsetattr()
    // failed: Input/output error"), with LastError as its code. After a failed Open it says why
    // the port stayed closed.
    Status LastStatus() const;
    // True once the monitor has seen the device go away in this session.
    bool IsDisconnected() const { return m_isDisconnected.load(); }

    ReceiveCallback m_receiveCallback = nullptr;
    DisconnectCallback m_disconnectCallback = nullptr;

  private:
    void MonitorThread();
    uint32_t LineErrorsSinceLastBatch();
    // Makes `status` the newest result (traced when it is a failure) and returns its code.
    uint32_t Record(Status status);

    std::unique_ptr<std::thread> m_hThread;
    void* m_callbackContext = nullptr;
    std::string m_portName;
    int m_hComm = -1;
    uint32_t m_stopBits = 0;
    uint32_t m_parity = 0;
    Status m_lastStatus;              // the newest result of Open, Configure, ..., Write, Purge
    mutable std::mutex m_statusLock;  // guards m_lastStatus
    std::mutex m_writeLock;           // serialises Write and Purge on the device
    // Set when the port is made if THERMAL_TRACE asks for a trace; null otherwise.
    const std::unique_ptr<CLinkTrace> m_pTrace;
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
