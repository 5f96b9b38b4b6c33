#pragma once
// CConvertProgress: the progress bar of `thermal convert` on stderr. It shows only when stderr
// is a terminal and the work has taken more than a second, and redraws at most ten times a
// second, so short conversions and redirected runs stay quiet. The tool's main thread only.
#include <chrono>
#include <cstdint>

class CConvertProgress {
  public:
    // `totalBytes` of input to go through (0 when unknown: no percentage).
    explicit CConvertProgress(uint64_t totalBytes);
    CConvertProgress(const CConvertProgress&) = delete;
    CConvertProgress& operator=(const CConvertProgress&) = delete;

    // Cheap enough for every frame.
    void Update(uint64_t bytesDone, uint64_t frames);
    // Clears the bar's line, if a bar is drawn, for a message line; the bar comes back at its
    // next redraw.
    void ClearLine();
    // Draws the final state and ends the bar's line, if a bar was drawn, so that later messages
    // start on a line of their own.
    void Finish(uint64_t bytesDone, uint64_t frames);

  private:
    using Clock = std::chrono::steady_clock;

    void Draw(uint64_t bytesDone, uint64_t frames, Clock::time_point now);

    const bool m_isEnabled;
    const uint64_t m_totalBytes;
    const Clock::time_point m_start;
    Clock::time_point m_nextDraw;
    bool m_hasDrawn = false;
};
