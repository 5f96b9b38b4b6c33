#pragma once
// CFrameTextPacer: frame texts on their way to the log box. Laying out a whole frame text costs
// more than all the rest of a frame's presentation, and nobody reads it at a hundred frames a
// second: the log takes the newest text at most every kIntervalMs, a little under the 185 ms
// between the module's frames at its own rate of 5.4 a second, so that rate still shows every
// frame's text. The last text shown always reaches the log, at most kIntervalMs late. GUI
// thread only.
#include <QObject>
#include <chrono>
#include <functional>
#include <string>

class QTimer;

class CFrameTextPacer : public QObject {
  public:
    static constexpr int kIntervalMs = 180;

    // write puts one text into the log box; called on the GUI thread, never twice within
    // kIntervalMs.
    explicit CFrameTextPacer(std::function<void(const std::string&)> write);

    // The text of the frame just shown: written now if the last one was written long enough
    // ago, else kept (replacing any kept before) for the time it is due.
    void Show(std::string text);

  private:
    void WritePending();

    std::function<void(const std::string&)> m_write;
    QTimer* m_timer;  // runs while a text is kept
    std::chrono::steady_clock::time_point m_lastWriteTime{};
    std::string m_pending;
};
