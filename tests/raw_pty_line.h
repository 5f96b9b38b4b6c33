#pragma once
// The module's end of a raw pseudo-terminal, for tests that play a module by hand: the test
// reads and writes the master side, the code under test opens Path(). The slave side stays
// open, as a simulator keeps its line, so the line does not hang up between opens.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <string>

class RawPtyLine {
  public:
    RawPtyLine() {
        char name[64];
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
            m_master = m_slave = -1;
            return;
        }
        termios tio{};
        ::tcgetattr(m_slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_path = name;
    }
    ~RawPtyLine() {
        Unplug();
        if (m_slave >= 0) {
            ::close(m_slave);
        }
    }
    RawPtyLine(const RawPtyLine&) = delete;
    RawPtyLine& operator=(const RawPtyLine&) = delete;

    const std::string& Path() const { return m_path; }
    // Non-blocking; -1 once unplugged. Only the thread that plays the module uses it.
    int Master() const { return m_master; }
    // Closes the module's end: the other side sees the device go away.
    void Unplug() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }
    // Writes every byte, waiting while the line is full, unless `stop` is set meanwhile.
    void WriteAll(const void* data, std::size_t size, const std::atomic<bool>& stop) {
        const auto* bytes = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < size && !stop && m_master >= 0) {
            const ssize_t n = ::write(m_master, bytes + done, size - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else {
                pollfd pfd{m_master, POLLOUT, 0};
                ::poll(&pfd, 1, 20);
            }
        }
    }

  private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};
