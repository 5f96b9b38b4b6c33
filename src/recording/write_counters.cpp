#include "recording/write_counters.h"

CWriteCounters& CWriteCounters::Process() {
    static CWriteCounters counters;
    return counters;
}

bool CWriteCounters::CountWrite(int type) {
    if (type < 1 || type > 3) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    int& count = m_counts[type - 1];
    if (++count < kWritesPerCheck) {
        return false;
    }
    count = 0;
    return true;
}
