#include "info_problem_list.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kProblemKindNames[kProblemKindCount] = {
    "short ends",
    "bad record headers",
    "frame blocks without the frame marker",
    "frames that do not parse",
    "line end problems",
    "empty files",
    "places where the frames end",
    "index problems",
    "frame count disagreements",
    "layout problems",
    "frames that do not decode"};

}  // namespace

void ProblemList::Add(ProblemKind kind, uint64_t byte, int64_t frame, std::string text) {
    ++m_counts[kind];
    if (m_kept[kind] < m_limit) {
        ++m_kept[kind];
        m_entries.push_back({byte, frame, std::move(text)});
    }
}

uint64_t ProblemList::Total() const {
    uint64_t total = 0;
    for (const uint64_t count : m_counts) {
        total += count;
    }
    return total;
}

void ProblemList::Print() {
    const uint64_t total = Total();
    if (total == 0) {
        std::printf("  problems: none\n");
        return;
    }
    std::printf("  problems: %llu\n", static_cast<unsigned long long>(total));
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const Entry& a, const Entry& b) { return a.byte < b.byte; });
    for (const Entry& entry : m_entries) {
        if (entry.frame == kNoFrame) {
            std::printf("    byte %llu: %s\n", static_cast<unsigned long long>(entry.byte),
                        entry.text.c_str());
        } else {
            std::printf("    byte %llu, frame %lld: %s\n",
                        static_cast<unsigned long long>(entry.byte),
                        static_cast<long long>(entry.frame), entry.text.c_str());
        }
    }
    for (int kind = 0; kind < kProblemKindCount; ++kind) {
        if (m_counts[kind] > m_kept[kind]) {
            std::printf("    ... and %llu more %s\n",
                        static_cast<unsigned long long>(m_counts[kind] - m_kept[kind]),
                        kProblemKindNames[kind]);
        }
    }
}
