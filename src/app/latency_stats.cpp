#include "app/latency_stats.h"

#include <algorithm>

uint64_t CLatencyStats::Hash(const uint8_t* block, int count) {
    // FNV-1a over the whole block: frames differ in noise, so this tells them apart.
    uint64_t hash = 1469598103934665603ULL;
    for (int i = 0; i < count; ++i) {
        hash = (hash ^ block[i]) * 1099511628211ULL;
    }
    return hash;
}

void CLatencyStats::FrameArrived(const uint8_t* block, int count) {
    const Arrival arrival{Hash(block, count), Clock::now()};
    std::lock_guard lock(m_lock);
    m_arrivals[m_next] = arrival;
    m_next = (m_next + 1) % m_arrivals.size();
}

std::optional<CLatencyStats::Clock::time_point> CLatencyStats::ArrivalOf(const uint8_t* block,
                                                                         int count) {
    const uint64_t hash = Hash(block, count);
    std::lock_guard lock(m_lock);
    for (const Arrival& arrival : m_arrivals) {
        if (arrival.hash == hash && arrival.time != Clock::time_point{}) {
            return arrival.time;
        }
    }
    return std::nullopt;
}

void CLatencyStats::FramePainted(Clock::time_point arrival) {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - arrival).count();
    std::lock_guard lock(m_lock);
    m_latenciesUs.push_back(us);
    std::fprintf(m_out, "frame_latency_us=%lld\n", static_cast<long long>(us));
    std::fflush(m_out);
}

void CLatencyStats::PresentationSkipped() {
    std::lock_guard lock(m_lock);
    ++m_skipped;
}

void CLatencyStats::PlaybackTick(int64_t readUs, int64_t tickUs) {
    std::lock_guard lock(m_lock);
    m_playbackReadUs.push_back(readUs);
    m_playbackTickUs.push_back(tickUs);
    std::fprintf(m_out, "playback_tick_us=%lld read_us=%lld\n", static_cast<long long>(tickUs),
                 static_cast<long long>(readUs));
    std::fflush(m_out);
}

namespace {

// The value below which the share q of the sorted values lies.
long long Quantile(const std::vector<int64_t>& sorted, double q) {
    return static_cast<long long>(
        sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * sorted.size()))]);
}

std::vector<int64_t> Sorted(std::vector<int64_t> values) {
    std::sort(values.begin(), values.end());
    return values;
}

}  // namespace

void CLatencyStats::PrintSummary() {
    std::lock_guard lock(m_lock);
    if (m_summaryPrinted) {
        return;
    }
    if (!m_latenciesUs.empty()) {
        const std::vector<int64_t> sorted = Sorted(m_latenciesUs);
        std::fprintf(m_out, "latency_summary frames=%zu skipped=%llu median_us=%lld p99_us=%lld\n",
                     sorted.size(), static_cast<unsigned long long>(m_skipped),
                     Quantile(sorted, 0.5), Quantile(sorted, 0.99));
        m_summaryPrinted = true;
    }
    if (!m_playbackTickUs.empty()) {
        const std::vector<int64_t> read = Sorted(m_playbackReadUs);
        const std::vector<int64_t> tick = Sorted(m_playbackTickUs);
        std::fprintf(m_out,
                     "playback_summary ticks=%zu read_median_us=%lld read_p99_us=%lld "
                     "read_max_us=%lld tick_median_us=%lld tick_p99_us=%lld tick_max_us=%lld\n",
                     tick.size(), Quantile(read, 0.5), Quantile(read, 0.99),
                     static_cast<long long>(read.back()), Quantile(tick, 0.5), Quantile(tick, 0.99),
                     static_cast<long long>(tick.back()));
        m_summaryPrinted = true;
    }
    std::fflush(m_out);
}
