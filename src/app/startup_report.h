#pragma once
// One line for the start-up benchmark: the wall-clock time at which the window was shown and the
// resident memory at that moment, read from the kernel. Header-only so the benchmark's baseline
// program reports in exactly the same way.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline void PrintStartupReport(FILE* out) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    long rssKb = -1;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof(line), status)) {
            if (std::strncmp(line, "VmRSS:", 6) == 0) {
                rssKb = std::strtol(line + 6, nullptr, 10);
            }
        }
        std::fclose(status);
    }
    std::fprintf(out, "shown_ns=%lld rss_kb=%ld\n",
                 static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, rssKb);
    std::fflush(out);
}
