#include "app/frame_text_pacer.h"

#include <QTimer>

CFrameTextPacer::CFrameTextPacer(std::function<void(const std::string&)> write)
    : m_write(std::move(write)), m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &CFrameTextPacer::WritePending);
}

void CFrameTextPacer::Show(std::string text) {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    const auto due = m_lastWriteTime + milliseconds(kIntervalMs);
    if (now >= due && !m_timer->isActive()) {
        m_lastWriteTime = now;
        m_write(text);
        return;
    }
    m_pending = std::move(text);
    if (!m_timer->isActive()) {
        m_timer->start(static_cast<int>(duration_cast<milliseconds>(due - now).count()));
    }
}

void CFrameTextPacer::WritePending() {
    m_lastWriteTime = std::chrono::steady_clock::now();
    m_write(m_pending);
    m_pending.clear();
}
