#pragma once
// ProblemList: the problems `thermal info` finds in one file. Every problem is counted; the
// first few of each kind are kept with their byte offset and frame number and printed in file
// order, the rest summed up per kind, so that a badly damaged file gives a readable report.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum ProblemKind {
    kShortEnd,
    kBadHeader,
    kNoMarker,
    kNotParsed,
    kLineEnds,
    kNoFrames,
    kVideoEnd,
    kVideoIndex,
    kVideoFrameCount,
    kVideoLayout,
    kNotDecoded,
    kProblemKindCount
};

// A problem that is not in any one frame.
constexpr int64_t kNoFrame = -1;

class ProblemList {
  public:
    explicit ProblemList(std::size_t limit) : m_limit(limit) {}

    // `frame` as the user is to read it (recordings count from 1, videos from 0 as the video
    // player does), or kNoFrame.
    void Add(ProblemKind kind, uint64_t byte, int64_t frame, std::string text);
    uint64_t Total() const;
    // "  problems: none", or the count and one line per kept problem ("    byte B, frame F:
    // text"), in file order.
    void Print();

  private:
    struct Entry {
        uint64_t byte;
        int64_t frame;
        std::string text;
    };
    std::size_t m_limit;
    std::array<uint64_t, kProblemKindCount> m_counts{};
    std::array<uint64_t, kProblemKindCount> m_kept{};
    std::vector<Entry> m_entries;
};
