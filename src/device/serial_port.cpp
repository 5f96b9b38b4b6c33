#include "device/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/result.h"

namespace {
using namespace std::chrono_literals;

// Errors a pseudo-terminal (or other tty without a UART behind it) gives for line settings it
// does not have; they are not failures.
bool IsUnsupported(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOTSUP;
}

Status NotOpen() {
    return Status::Failure("the port is not open", static_cast<int>(kErrorInvalidHandle));
}

// The device `name`, opened for this program alone: the descriptor, or the call that failed.
// TIOCEXCL keeps other openers out but not root; the flock also covers root and other programs
// that lock ports, and both together leave no gap.
Result<int> OpenExclusive(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return Status::CallFailed("open()", errno);
    }
    Status failure;
    if (::ioctl(fd, TIOCEXCL) != 0) {
        failure = Status::CallFailed("ioctl(TIOCEXCL)", errno);
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        failure = Status::CallFailed("flock()", errno == EWOULDBLOCK ? EBUSY : errno);
    } else {
        return fd;
    }
    ::close(fd);
    return failure;
}

// Raw mode, 8 data bits, the given parity and stop bits, no flow control, 115200 baud, and DTR
// and RTS dropped, on the open tty `fd`.
Status SetLineSettings(int fd, bool hasParity, bool hasTwoStopBits) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return Status::CallFailed("tcgetattr()", errno);
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (hasParity) {
        tio.c_cflag |= PARENB;
    }
    if (hasTwoStopBits) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | PARMRK | INPCK);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return Status::CallFailed("tcsetattr()", errno);
    }
    // The module must not see DTR or RTS raised.
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &lines) != 0 && !IsUnsupported(errno)) {
        return Status::CallFailed("ioctl(TIOCMBIC)", errno);
    }
    ::tcflush(fd, TCIOFLUSH);
    return Status();
}

}  // namespace

CSerialPort::CSerialPort() : m_pTrace(CLinkTrace::FromEnvironment()) {}

CSerialPort::~CSerialPort() {
    Close();
}

uint32_t CSerialPort::Open(const std::string& name) {
    Record(Status());
    if (m_isOpen) {
        return 0;
    }
    m_portName = name;
    Result<int> fd = OpenExclusive(name);
    if (!fd) {
        return Record(fd.GetStatus());
    }
    m_hComm = *fd;
    m_isOpen = 1;
    m_isDisconnected.store(false);
    m_hasCounters = false;
    Configure();
    return StartMonitor();
}

uint32_t CSerialPort::Configure() {
    if (!m_isOpen) {
        return Record(NotOpen());
    }
    return Record(SetLineSettings(m_hComm, m_parity != 0, m_stopBits != 0));
}

uint32_t CSerialPort::StartMonitor() {
    if (!m_isOpen) {
        return Record(NotOpen());
    }
    if (m_hThread) {
        return Record(Status::Failure("the serial monitor runs already",
                                      static_cast<int>(kErrorInvalidHandle)));
    }
    m_hStopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_hStopEvent < 0) {
        return Record(Status::CallFailed("eventfd()", errno));
    }
    {
        std::lock_guard<std::mutex> lock(m_exitLock);
        m_isMonitorDone = false;
    }
    try {
        m_hThread = std::make_unique<std::thread>(&CSerialPort::MonitorThread, this);
    } catch (const std::system_error& error) {
        ::close(m_hStopEvent);
        m_hStopEvent = -1;
        return Record(
            Status::CallFailed("starting the serial monitor thread", error.code().value()));
    }
    // The monitor drains the driver buffer at line rate; ask for real-time priority and
    // carry on at normal priority when the system refuses.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    pthread_setschedparam(m_hThread->native_handle(), SCHED_FIFO, &param);
    pthread_setname_np(m_hThread->native_handle(), "serial monitor");
    return Record(Status());
}

void CSerialPort::Close() {
    if (!m_isOpen) {
        return;
    }
    // Only what came in is dropped: Write has already drained every byte it wrote, and on a
    // pseudo-terminal a transmit flush would discard the stop byte before the other end read it.
    // The flush takes effect at once, so no settling pause follows: START closes the previous
    // port on the GUI thread, and a fixed pause there freezes the window.
    ::tcflush(m_hComm, TCIFLUSH);
    if (m_hThread) {
        StopMonitor(1000);
    }
    // Leave no exclusive flag behind on a tty that someone else keeps open.
    ::ioctl(m_hComm, TIOCNXCL);
    ::close(m_hComm);
    m_hComm = -1;
    m_isOpen = 0;
}

uint32_t CSerialPort::StopMonitor(uint32_t timeoutMs) {
    if (!m_hThread) {
        return 0;
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(m_hStopEvent, &one, sizeof one);
    // The monitor wakes on the stop descriptor and reports its end: waiting for that report,
    // rather than a fixed pause first, lets START and the close sequence go on at once.
    {
        std::unique_lock<std::mutex> lock(m_exitLock);
        m_exitSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_isMonitorDone; });
    }
    // The monitor never blocks anywhere but on the stop descriptor, so it ends; a thread is
    // never killed from outside, whatever it holds.
    m_hThread->join();
    m_hThread.reset();
    ::close(m_hStopEvent);
    m_hStopEvent = -1;
    return 0;
}

uint32_t CSerialPort::Write(uint32_t count, const uint8_t* data, uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    if (m_hComm < 0) {
        return Record(NotOpen());
    }
    std::lock_guard<std::mutex> lock(m_writeLock);
    // Traced before they go: the module's answer can arrive, and be traced, before write()
    // returns. A failure is traced after them.
    if (m_pTrace) {
        m_pTrace->Sent(data, count);
    }
    Status status;
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_hComm, data + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{m_hComm, POLLOUT, 0};
            if (::poll(&pfd, 1, 2000) > 0 && (pfd.revents & POLLOUT)) {
                continue;
            }
            status = Status::Failure("write() failed: the line took nothing for 2 s", ETIMEDOUT);
        } else {
            status = Status::CallFailed("write()", n < 0 ? errno : EIO);
        }
        break;
    }
    if (written != nullptr) {
        *written = done;
    }
    if (status.IsOk() && ::tcdrain(m_hComm) != 0 && !IsUnsupported(errno)) {
        status = Status::CallFailed("tcdrain()", errno);
    }
    return Record(std::move(status));
}

uint32_t CSerialPort::Purge(int rx, int tx) {
    if (m_hComm < 0) {
        return Record(NotOpen());
    }
    std::lock_guard<std::mutex> lock(m_writeLock);
    const int which = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : tx ? TCOFLUSH : -1;
    if (which >= 0 && ::tcflush(m_hComm, which) != 0) {
        return Record(Status::CallFailed("tcflush()", errno));
    }
    return Record(Status());
}

uint32_t CSerialPort::Record(Status status) {
    if (m_pTrace && !status.IsOk()) {
        m_pTrace->Failed(status.Message());
    }
    const auto code = static_cast<uint32_t>(status.Code());
    std::lock_guard lock(m_statusLock);
    m_lastStatus = std::move(status);
    return code;
}

uint32_t CSerialPort::LastError() const {
    std::lock_guard lock(m_statusLock);
    return static_cast<uint32_t>(m_lastStatus.Code());
}

Status CSerialPort::LastStatus() const {
    std::lock_guard lock(m_statusLock);
    return m_lastStatus;
}

uint32_t CSerialPort::LineErrorsSinceLastBatch() {
    serial_icounter_struct counts{};
    if (::ioctl(m_hComm, TIOCGICOUNT, &counts) != 0) {
        return 0;  // no UART behind this tty (a pseudo-terminal): no line errors to report
    }
    const LineCounters now{counts.frame, counts.parity, counts.overrun + counts.buf_overrun,
                           counts.brk};
    uint32_t errors = 0;
    if (m_hasCounters) {
        errors |= now.frame != m_lastCounters.frame ? CE_FRAME : 0;
        errors |= now.parity != m_lastCounters.parity ? CE_RXPARITY : 0;
        errors |= now.overrun != m_lastCounters.overrun ? CE_OVERRUN : 0;
        errors |= now.brk != m_lastCounters.brk ? CE_BREAK : 0;
    }
    m_lastCounters = now;
    m_hasCounters = true;
    return errors;
}

void CSerialPort::MonitorThread() {
    LineErrorsSinceLastBatch();  // counters before the first batch
    std::vector<uint8_t> buffer;
    pollfd fds[2] = {{m_hStopEvent, POLLIN, 0}, {m_hComm, POLLIN, 0}};
    bool isGone = false;
    while (true) {
        // Once the device is gone only the stop request is waited for: no busy loop on a
        // descriptor that reports hang-up for ever.
        const int n = ::poll(fds, isGone ? 1 : 2, -1);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            break;
        }
        if (isGone) {
            continue;
        }
        const short events = fds[1].revents;
        bool lost = (events & (POLLERR | POLLNVAL)) != 0;
        if (!lost && (events & (POLLIN | POLLHUP))) {
            int queued = 0;
            if (::ioctl(m_hComm, FIONREAD, &queued) != 0 || queued <= 0) {
                queued = 1;  // let read() tell data from hang-up
            }
            buffer.resize(static_cast<size_t>(queued));
            const ssize_t got = ::read(m_hComm, buffer.data(), buffer.size());
            if (got > 0 && m_pTrace) {
                m_pTrace->Received(buffer.data(), static_cast<size_t>(got));
            }
            if (got > 0) {
                const uint32_t errors = LineErrorsSinceLastBatch();
                if (m_receiveCallback != nullptr) {
                    m_receiveCallback(m_callbackContext, static_cast<uint32_t>(got), errors,
                                      buffer.data());
                }
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                lost = true;
            }
        }
        if (lost) {
            isGone = true;
            m_isDisconnected.store(true);
            if (m_disconnectCallback != nullptr) {
                m_disconnectCallback(m_callbackContext);
            }
        }
    }
    // No settling pause after the purge: the tty layer has nothing in flight once the
    // descriptor is no longer read, and closing the window should not wait half a second.
    ::tcflush(m_hComm, TCIFLUSH);
    {
        std::lock_guard<std::mutex> lock(m_exitLock);
        m_isMonitorDone = true;
    }
    m_exitSignal.notify_all();
}
