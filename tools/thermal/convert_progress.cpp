#include "convert_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr auto kQuietPeriod = std::chrono::seconds(1);
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

}  // namespace

CConvertProgress::CConvertProgress(uint64_t totalBytes)
    : m_isEnabled(::isatty(STDERR_FILENO) == 1),
      m_totalBytes(totalBytes),
      m_start(Clock::now()),
      m_nextDraw(m_start + kQuietPeriod) {}

void CConvertProgress::Update(uint64_t bytesDone, uint64_t frames) {
    if (!m_isEnabled) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now < m_nextDraw) {
        return;
    }
    m_nextDraw = now + kRedrawPeriod;
    Draw(bytesDone, frames, now);
}

void CConvertProgress::Draw(uint64_t bytesDone, uint64_t frames, Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
    if (m_totalBytes > 0) {
        const double share =
            std::min(1.0, static_cast<double>(bytesDone) / static_cast<double>(m_totalBytes));
        const int filled = static_cast<int>(share * kBarWidth);
        char bar[kBarWidth + 1];
        std::fill(bar, bar + kBarWidth, ' ');
        std::fill(bar, bar + filled, '#');
        bar[kBarWidth] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%  %llu frames  %.0f frames/s \033[K", bar,
                     static_cast<int>(share * 100.0), static_cast<unsigned long long>(frames),
                     rate);
    } else {
        std::fprintf(stderr, "\r%llu frames  %.0f frames/s \033[K",
                     static_cast<unsigned long long>(frames), rate);
    }
    std::fflush(stderr);
    m_hasDrawn = true;
}

void CConvertProgress::ClearLine() {
    if (m_hasDrawn) {
        std::fputs("\r\033[K", stderr);
        m_hasDrawn = false;
    }
}

void CConvertProgress::Finish(uint64_t bytesDone, uint64_t frames) {
    if (m_hasDrawn) {
        Draw(bytesDone, frames, Clock::now());
        std::fputc('\n', stderr);
        m_hasDrawn = false;
    }
}
