#pragma once
// A simulated module that misbehaves, for the session tests of the core and of the main dialog.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "device/test_frames.h"
#include "raw_pty_line.h"

// A module that misbehaves, played by a thread of the test on a raw pseudo-terminal: it reads
// what the session sends and, at the letter its fault names, goes away (the adapter unplugged),
// floods the line with text that ends no reply, or answers `q` with a flood of lines that each
// end a reply; a silent module only reads.
class FaultyModule {
  public:
    enum class Fault {
        kUnplugOnStop,
        kUnplugOnInfo,
        kUnplugInStream,
        kSilent,
        kFloodText,
        kFloodReplies,
    };

    explicit FaultyModule(Fault fault) : m_fault(fault) {
        if (m_line.Master() < 0) {
            return;
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~FaultyModule() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    const std::string& Path() const { return m_line.Path(); }
    uint64_t TextBytesSent() const { return m_textBytes.load(); }

  private:
    void Run() {
        bool flooding = false;
        const std::string flood(65536, 'Z');
        while (!m_stop && m_line.Master() >= 0) {
            pollfd pfd{m_line.Master(), static_cast<short>(POLLIN | (flooding ? POLLOUT : 0)), 0};
            ::poll(&pfd, 1, 20);
            uint8_t bytes[256];
            const ssize_t got = ::read(m_line.Master(), bytes, sizeof bytes);
            for (ssize_t i = 0; i < got && m_line.Master() >= 0; ++i) {
                const uint8_t letter = bytes[i];
                if ((m_fault == Fault::kUnplugOnStop && letter == 'x') ||
                    (m_fault == Fault::kUnplugOnInfo && letter == 'M')) {
                    m_line.Unplug();
                } else if (m_fault == Fault::kUnplugInStream && letter == 'K') {
                    for (uint16_t tag = 1; tag <= 5; ++tag) {
                        WriteAll(TaggedFrame(tag));
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    m_line.Unplug();
                } else if (m_fault == Fault::kFloodText && letter == 'M') {
                    flooding = true;
                } else if (m_fault == Fault::kFloodReplies && letter == 'q') {
                    FloodReplies();
                }
            }
            if (flooding && m_line.Master() >= 0 && m_textBytes < kFloodBytes) {
                const ssize_t sent = ::write(m_line.Master(), flood.data(), flood.size());
                m_textBytes += sent > 0 ? static_cast<uint64_t>(sent) : 0;
            }
        }
    }
    // Lines that each end the reply to an unknown letter (a chunk that ends with one completes
    // it), 8 MiB of them, then a last one.
    void FloodReplies() {
        const std::string line = "ZZZZnot in use\r\n";
        std::vector<uint8_t> block;
        for (int i = 0; i < 4096; ++i) {
            block.insert(block.end(), line.begin(), line.end());
        }
        while (m_textBytes < kFloodBytes / 2 && !m_stop) {
            WriteAll(block);
            m_textBytes += block.size();
        }
        const std::string last = kLastFloodLine;
        WriteAll(std::vector<uint8_t>(last.begin(), last.end()));
        m_textBytes += last.size();
    }
    void WriteAll(const std::vector<uint8_t>& bytes) {
        m_line.WriteAll(bytes.data(), bytes.size(), m_stop);
    }

  public:
    static constexpr uint64_t kFloodBytes = 16u << 20;
    static constexpr const char* kLastFloodLine = "the last line in use\r\n";

  private:
    const Fault m_fault;
    RawPtyLine m_line;  // its master side: the module thread's once it runs
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_textBytes{0};
    std::thread m_thread;
};
