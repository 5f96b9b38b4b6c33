#include "remote/run_follower.h"

#include <random>

bool CRunFollower::Follow(const std::string& run) {
    if (m_hasRun && run == m_run) {
        return false;
    }
    const bool isReplaced = m_hasRun;
    m_hasRun = true;
    m_run = run;
    m_lastSequence.reset();
    return isReplaced;
}

FrameVerdict CRunFollower::Take(const std::string& run, std::optional<uint64_t> sequence) {
    if (!m_hasRun) {
        m_hasRun = true;
        m_run = run;
    } else if (run != m_run) {
        return FrameVerdict::kOtherRun;
    }
    if (!sequence) {
        return FrameVerdict::kTake;
    }
    if (m_lastSequence) {
        if (*sequence <= *m_lastSequence) {
            return FrameVerdict::kDuplicate;
        }
        if (*sequence > *m_lastSequence + 1) {
            m_missing += *sequence - *m_lastSequence - 1;
            ++m_gaps;
        }
    }
    m_lastSequence = sequence;
    return FrameVerdict::kTake;
}

std::optional<uint64_t> ParseSequenceNumber(const std::string* text) {
    if (text == nullptr || text->empty() || text->size() > 19) {
        return std::nullopt;
    }
    uint64_t number = 0;
    for (const char c : *text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    return number;
}

std::string MissingFramesText(uint64_t missing, uint64_t gaps) {
    return std::to_string(missing) + (missing == 1 ? " frame" : " frames") + " missing in " +
           std::to_string(gaps) + (gaps == 1 ? " gap" : " gaps");
}

std::string MakeRunId() {
    std::random_device random;
    const uint64_t id = (static_cast<uint64_t>(random()) << 32) ^ random();
    static const char kHex[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 0; i < 16; ++i) {
        text[static_cast<std::size_t>(i)] = kHex[(id >> (60 - 4 * i)) & 0xF];
    }
    return text;
}
