#include "platform/stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

namespace {

constexpr int kCaught[] = {SIGINT, SIGTERM};

// Lock-free atomics: the only shared state a signal handler may touch.
std::atomic<int> g_firstSignal{0};
std::atomic<int> g_signalCount{0};
std::atomic<int> g_wakeWriteFd{-1};
std::atomic<void (*)(int)> g_onRepeat{nullptr};
struct sigaction g_previous[std::size(kCaught)];

extern "C" void OnStopSignal(int signalNumber) {
    const int savedErrno = errno;
    int none = 0;
    g_firstSignal.compare_exchange_strong(none, signalNumber);
    const bool isRepeat = g_signalCount.fetch_add(1) > 0;
    const int fd = g_wakeWriteFd.load();
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already says that a signal came.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    if (isRepeat) {
        if (void (*onRepeat)(int) = g_onRepeat.load(); onRepeat != nullptr) {
            onRepeat(signalNumber);
        }
    }
    errno = savedErrno;
}

}  // namespace

CStopSignals::CStopSignals(void (*onRepeat)(int)) {
    static_assert(std::atomic<int>::is_always_lock_free);
    g_firstSignal = 0;
    g_signalCount = 0;
    g_onRepeat = onRepeat;
    if (::pipe2(m_wakeFd, O_NONBLOCK | O_CLOEXEC) != 0) {
        // Not caught at all rather than caught where nothing would learn of them.
        m_error = std::string("pipe2() failed: ") + std::strerror(errno);
        m_wakeFd[0] = m_wakeFd[1] = -1;
        return;
    }
    g_wakeWriteFd = m_wakeFd[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kCaught) {
        sigaddset(&action.sa_mask, signalNumber);  // one handler at a time
    }
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kCaught); ++i) {
        if (::sigaction(kCaught[i], &action, &g_previous[i]) != 0) {
            m_error = std::string("sigaction() failed: ") + std::strerror(errno);
            for (std::size_t j = 0; j < i; ++j) {
                ::sigaction(kCaught[j], &g_previous[j], nullptr);
            }
            g_wakeWriteFd = -1;
            for (int& fd : m_wakeFd) {
                ::close(fd);
                fd = -1;
            }
            return;
        }
    }
    m_isInstalled = true;
}

CStopSignals::~CStopSignals() {
    if (m_isInstalled) {
        for (std::size_t i = 0; i < std::size(kCaught); ++i) {
            ::sigaction(kCaught[i], &g_previous[i], nullptr);
        }
    }
    g_wakeWriteFd = -1;
    g_onRepeat = nullptr;
    for (const int fd : m_wakeFd) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

int CStopSignals::First() {
    return g_firstSignal.load();
}

int CStopSignals::Count() {
    return g_signalCount.load();
}

void CStopSignals::DrainWakeFd() const {
    char bytes[64];
    while (m_wakeFd[0] >= 0 && ::read(m_wakeFd[0], bytes, sizeof bytes) > 0) {
    }
}
