#pragma once
// CWriteCounters: how many writes of each recording type (1 binary, 2 text, 3 video) the program
// has made since that type's last disk check. The counts belong to the program, not to one file:
// they run on across "Save to..." and across the parts of a split recording, so a check falls due
// every 1024 writes of a type wherever they went. The program's recorders share Process(); tests
// give each recorder its own. Any thread.
#include <mutex>

class CWriteCounters {
  public:
    static constexpr int kWritesPerCheck = 1024;

    // The counters of the program (all zero at start).
    static CWriteCounters& Process();

    // Counts one write of `type` (1 to 3). True at every kWritesPerCheck-th write of that type,
    // when its count starts again from 0 and the caller checks the disk.
    bool CountWrite(int type);

  private:
    std::mutex m_lock;     // guards m_counts
    int m_counts[3] = {};  // binary, text, video
};
