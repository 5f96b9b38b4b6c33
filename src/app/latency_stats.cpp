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
        if (arrival.hash == hash && arrival.time != Clock::time_point{})
            return arrival.time;
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

void CLatencyStats::PrintSummary() {
    std::lock_guard lock(m_lock);
    if (m_summaryPrinted || m_latenciesUs.empty())
        return;
    m_summaryPrinted = true;
    std::vector<int64_t> sorted = m_latenciesUs;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double q) {
        return sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * sorted.size()))];
    };
    std::fprintf(m_out, "latency_summary frames=%zu skipped=%llu median_us=%lld p99_us=%lld\n",
                 sorted.size(), static_cast<unsigned long long>(m_skipped),
                 static_cast<long long>(at(0.5)), static_cast<long long>(at(0.99)));
    std::fflush(m_out);
}
