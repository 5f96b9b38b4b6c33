#pragma once
// CFrameStack: the frame stack and the electrical offset stack that average the newest N frames
// (and the newest M offset rows) to reduce noise, plus the thermal stack, whose size is only kept
// and reported. Not thread-safe by itself: the frame pipeline serialises every call with one lock.
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "frame/frame_block.h"

inline constexpr int kMaxStackSize = 300;

class CFrameStack {
  public:
    CFrameStack();

    // Stores the sizes; a stack whose size changes is emptied, the others keep their entries.
    // Sizes are limited to 1 to kMaxStackSize (a size of 0 would make the mean divide by zero).
    void Resize(int frameSize, int offsetSize, int thermalSize);

    // Empties the frame and offset stacks and keeps their sizes.
    void Clear();

    // Appends copies of the values and offsets; a stack that already held size + 1 entries drops
    // its oldest one.
    void Push(const uint16_t values[kPixelCount], const uint16_t offsets[kOffsetCount]);

    // Replaces values and offsets by the means of the newest N (M) entries once a stack holds
    // N + 1 (M + 1) entries, otherwise by the newest entry. Returns the thermal stack's count.
    int Average(uint16_t values[kPixelCount], uint16_t offsets[kOffsetCount]) const;

    void GetSizes(int& frameSize, int& offsetSize, int& thermalSize) const;
    void GetCounts(int& frameCount, int& offsetCount, int& thermalCount) const;

  private:
    // One stack of fixed-length rows. Besides the rows it keeps the exact integer sum of every
    // position, so that the mean of the newest entries costs one pass however deep the stack is.
    class CRowStack {
      public:
        explicit CRowStack(int rowLength) : m_rowLength(rowLength), m_sums(rowLength, 0) {}
        void Clear();
        void Push(const uint16_t* row, int size);
        void Average(uint16_t* row, int size) const;
        int Count() const { return static_cast<int>(m_rows.size()); }

      private:
        int m_rowLength;
        std::deque<std::vector<uint16_t>> m_rows;  // oldest first
        std::vector<uint16_t> m_spare;             // last dropped row, reused by the next Push
        std::vector<uint64_t> m_sums;              // per position, over every row held
    };

    int m_frameSize = 1;
    int m_offsetSize = 1;
    int m_thermalSize = 1;
    CRowStack m_frames{kPixelCount};
    CRowStack m_offsets{kOffsetCount};
};
