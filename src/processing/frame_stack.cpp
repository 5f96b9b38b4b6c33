#include "processing/frame_stack.h"

#include <algorithm>

namespace {

// The size edits stop at 1 and 300, but typed text can still give 0 or less; the mean of 0 frames
// would divide by zero and a huge size would hold frames without bound.
int ValidSize(int size) {
    return std::clamp(size, 1, kMaxStackSize);
}

// Every integer up to 2^24 is exact in a float, so a float sum taken in entry order equals the
// exact integer sum whenever that sum stays at or below 2^24 (the partial sums are smaller still).
constexpr uint64_t kExactFloatLimit = uint64_t{1} << 24;

}  // namespace

CFrameStack::CFrameStack() = default;

void CFrameStack::Resize(int frameSize, int offsetSize, int thermalSize) {
    frameSize = ValidSize(frameSize);
    offsetSize = ValidSize(offsetSize);
    thermalSize = ValidSize(thermalSize);
    if (frameSize != m_frameSize) {
        m_frameSize = frameSize;
        m_frames.Clear();
    }
    if (offsetSize != m_offsetSize) {
        m_offsetSize = offsetSize;
        m_offsets.Clear();
    }
    m_thermalSize = thermalSize;
}

void CFrameStack::Clear() {
    m_frames.Clear();
    m_offsets.Clear();
}

void CFrameStack::Push(const uint16_t values[kPixelCount], const uint16_t offsets[kOffsetCount]) {
    m_frames.Push(values, m_frameSize);
    m_offsets.Push(offsets, m_offsetSize);
}

int CFrameStack::Average(uint16_t values[kPixelCount], uint16_t offsets[kOffsetCount]) const {
    m_frames.Average(values, m_frameSize);
    m_offsets.Average(offsets, m_offsetSize);
    return 0;
}

void CFrameStack::GetSizes(int& frameSize, int& offsetSize, int& thermalSize) const {
    frameSize = m_frameSize;
    offsetSize = m_offsetSize;
    thermalSize = m_thermalSize;
}

void CFrameStack::GetCounts(int& frameCount, int& offsetCount, int& thermalCount) const {
    frameCount = m_frames.Count();
    offsetCount = m_offsets.Count();
    thermalCount = 0;
}

void CFrameStack::CRowStack::Clear() {
    m_rows.clear();
    std::fill(m_sums.begin(), m_sums.end(), 0);
}

void CFrameStack::CRowStack::Push(const uint16_t* row, int size) {
    std::vector<uint16_t> entry = std::move(m_spare);
    entry.assign(row, row + m_rowLength);
    for (int i = 0; i < m_rowLength; ++i) {
        m_sums[i] += row[i];
    }
    const bool wasFull = Count() >= size + 1;
    m_rows.push_back(std::move(entry));
    if (wasFull) {
        const std::vector<uint16_t>& oldest = m_rows.front();
        for (int i = 0; i < m_rowLength; ++i) {
            m_sums[i] -= oldest[i];
        }
        m_spare = std::move(m_rows.front());
        m_rows.pop_front();
    }
}

void CFrameStack::CRowStack::Average(uint16_t* row, int size) const {
    if (Count() == size + 1) {
        // The mean of every entry but the oldest, summed in a float in entry order and divided
        // as a float, as the recordings made so far were averaged.
        const std::vector<uint16_t>& oldest = m_rows.front();
        const float divisor = static_cast<float>(size);
        for (int i = 0; i < m_rowLength; ++i) {
            const uint64_t exact = m_sums[i] - oldest[i];
            float sum = 0.0f;
            if (exact <= kExactFloatLimit) {
                sum = static_cast<float>(exact);
            } else {
                for (std::size_t k = 1; k < m_rows.size(); ++k) {
                    sum += m_rows[k][i];
                }
            }
            float mean = sum / divisor;
            if (mean > 65535.0f) {
                mean = 65535.0f;
            }
            row[i] = static_cast<uint16_t>(mean + 0.5);
        }
    } else if (Count() > 0) {
        std::copy(m_rows.back().begin(), m_rows.back().end(), row);
    }
}
