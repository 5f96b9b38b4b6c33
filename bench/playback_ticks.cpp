// Play-back ticks in the viewer: how long each tick of a text recording's play-back holds the
// GUI thread (the read of 34 lines and the frame's processing), taken from the figures the
// viewer prints under --stats. The recording is played twice at 30 ms a frame: first with the
// file in the page cache, then with it evicted beforehand, so that the reads go to the disk.
// Baseline: the median tick of the cached run.
//
//   QT_QPA_PLATFORM=offscreen build/bin/bench_playback_ticks [FRAMES]   (default 300)
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/mfc_velk_dlg.h"
#include "frame/text_frame.h"
#include "res/resource.h"

namespace {

struct TickFigures {
    std::vector<long long> readUs;
    std::vector<long long> tickUs;
};

// A voltage recording: its lines are the longest a text recording has.
void WriteRecording(const std::string& path, int frames) {
    std::ofstream out(path, std::ios::binary);
    for (int n = 0; n < frames; ++n) {
        FrameData frame{};
        for (int i = 0; i < kPixelCount; ++i) {
            frame.values[i] = static_cast<uint16_t>(1500 + (i * 7 + n * 13) % 900);
        }
        for (int c = 0; c < kOffsetCount; ++c) {
            frame.offsets[c] = static_cast<uint16_t>(20 + c);
        }
        out << MakeTextStreamRecord('V', 'T', RenderVoltageText(frame).text);
    }
}

// Drops the file's pages from the page cache, so the next reads go to the disk.
void EvictFromCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// Plays the recording in a viewer window with --stats, its output caught in statsPath.
TickFigures PlayOnce(const std::string& path, const std::string& appDir,
                     const std::string& statsPath, bool evict) {
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    const int statsFd = ::open(statsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(statsFd, STDOUT_FILENO);
    ::close(statsFd);
    {
        ViewerOptions options;
        options.stats = true;
        options.appDir = appDir;
        CmfcVELKDlg dlg(nullptr, options);
        dlg.OnInitDialog();
        dlg.show();
        QApplication::processEvents();
        if (evict) {
            EvictFromCache(path);
        }
        dlg.PlayFile(500, path);
        while (dlg.IsTimerActive(IDT_PLAY_TXT)) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        dlg.close();
    }
    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);

    TickFigures figures;
    std::ifstream in(statsPath);
    std::string line;
    while (std::getline(in, line)) {
        long long tick = 0;
        long long read = 0;
        if (std::sscanf(line.c_str(), "playback_tick_us=%lld read_us=%lld", &tick, &read) == 2) {
            figures.tickUs.push_back(tick);
            figures.readUs.push_back(read);
        }
    }
    return figures;
}

double Quantile(std::vector<long long> values, double q) {
    std::sort(values.begin(), values.end());
    return static_cast<double>(
        values[std::min(values.size() - 1, static_cast<size_t>(q * values.size()))]);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    QTemporaryDir dir;
    const std::string appDir = dir.path().toStdString() + "/";
    const std::string path = appDir + "recording.txt";
    WriteRecording(path, frames);

    const TickFigures warm = PlayOnce(path, appDir, appDir + "warm.out", false);
    const TickFigures cold = PlayOnce(path, appDir, appDir + "cold.out", true);
    if (warm.tickUs.empty() || cold.tickUs.empty()) {
        std::fprintf(stderr, "no play-back ticks were reported\n");
        return 1;
    }
    const double baseline = Quantile(warm.tickUs, 0.5);
    std::printf("text play-back, %d voltage frames at 30 ms, %zu and %zu ticks\n", frames,
                warm.tickUs.size(), cold.tickUs.size());
    std::printf("%-8s %12s %12s %12s %12s %12s   max / cached median\n", "file", "read med ms",
                "read max ms", "tick med ms", "tick p99 ms", "tick max ms");
    for (const auto& [name, figures] : {std::pair{"cached", &warm}, std::pair{"evicted", &cold}}) {
        std::printf("%-8s %12.3f %12.3f %12.3f %12.3f %12.3f   %.2f\n", name,
                    Quantile(figures->readUs, 0.5) / 1000, Quantile(figures->readUs, 1.0) / 1000,
                    Quantile(figures->tickUs, 0.5) / 1000, Quantile(figures->tickUs, 0.99) / 1000,
                    Quantile(figures->tickUs, 1.0) / 1000,
                    Quantile(figures->tickUs, 1.0) / baseline);
    }
    return 0;
}
