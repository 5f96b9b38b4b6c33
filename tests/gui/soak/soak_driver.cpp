// The viewer under a long run, driven as a user would drive it, for scripts/soak.sh. It opens the
// main dialog on the port named by --port (a link that `thermal sim --link` keeps pointing at its
// terminal), records a binary stream from the start, presses START at the beginning and again
// each time the link points at a new terminal (the simulated module was unplugged and came
// back), and changes palette, stacks, unit, mirroring and interpolation every few seconds. A
// watchdog timer on the GUI thread measures how late it fires; a plain thread does the same as a
// reference for what the machine's load alone costs. On SIGTERM it waits until the frames on
// their way have been handled, stops the recording, prints its figures as "soak: key=value"
// lines on stdout, closes the dialog and exits with status 0. SIGUSR1 notes the heap in use, to
// be compared with the heap at the end.
//
// Usage: soak_driver --port LINK --record FILE.bds [--settings-every MS]
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "gui/gui_test_support.h"
#include "gui/soak/lateness_watch.h"
#include "res/resource.h"

namespace {

int g_signalPipe[2] = {-1, -1};
constexpr char kFinish = 'F';
constexpr char kMark = 'M';

void OnTerminate(int) {
    [[maybe_unused]] ssize_t ignored = ::write(g_signalPipe[1], &kFinish, 1);
}

void OnMark(int) {
    [[maybe_unused]] ssize_t ignored = ::write(g_signalPipe[1], &kMark, 1);
}

}  // namespace

// Present only in sanitizer builds: the heap the program has allocated, without the sanitizer's
// own bookkeeping, quarantine and caches, which make the resident size grow by themselves.
extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace {

// The heap in use, in KiB: from the sanitizer's allocator when there is one, else from glibc's.
long HeapInUseKib() {
    if (__sanitizer_get_current_allocated_bytes != nullptr) {
        return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
    }
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

std::string LinkTarget(const std::string& link) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(link, error);
    if (error || !std::filesystem::exists(target, error)) {
        return {};
    }
    return target.string();
}

// One step of the settings cycle: every setting the user can change while the stream runs, so
// that each combination of palette, stacks, unit, mirroring and interpolation comes round.
void ChangeSettings(CmfcVELKDlg& dlg, int step) {
    static constexpr int kPalettes[] = {IDC_PALETTE_1, IDC_PALETTE_2, IDC_PALETTE_3, IDC_PALETTE_4,
                                        IDC_PALETTE_5, IDC_PALETTE_6, IDC_PALETTE_7, IDC_PALETTE_8};
    static_cast<QAbstractButton*>(dlg.GetDlgItem(kPalettes[step % 8]))->click();
    static constexpr int kStacks[] = {1, 4, 30, 300, 2};
    dlg.SetDlgItemText(IDC_FRAMESTACK, QString::number(kStacks[step % 5]));
    dlg.SetDlgItemText(IDC_ELOFFSTACK, QString::number(kStacks[(step + 2) % 5]));
    dlg.SetDlgItemText(IDC_THERMALSTACK, QString::number(kStacks[(step + 4) % 5]));
    dlg.ApplyOptions(step % 4, 1 + step % 3);
    static_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_INTERPOLATE))->click();
}

unsigned long long U(uint64_t n) {
    return static_cast<unsigned long long>(n);
}

}  // namespace

int main(int argc, char** argv) {
    std::string port;
    std::string record;
    int settingsEveryMs = 3000;
    bool isUsable = argc % 2 == 1;
    for (int i = 1; isUsable && i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--port") {
            port = argv[i + 1];
        } else if (arg == "--record") {
            record = argv[i + 1];
        } else if (arg == "--settings-every") {
            settingsEveryMs = std::max(100, std::atoi(argv[i + 1]));
        } else {
            isUsable = false;
        }
    }
    if (!isUsable || port.empty() || record.empty()) {
        std::fprintf(stderr,
                     "usage: soak_driver --port LINK --record FILE.bds "
                     "[--settings-every MS]\n");
        return 2;
    }
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        std::perror("soak_driver: socketpair");
        return 1;
    }
    std::signal(SIGTERM, OnTerminate);
    std::signal(SIGINT, OnTerminate);
    std::signal(SIGUSR1, OnMark);

    QTemporaryDir appDir;
    ViewerOptions options;
    options.port = port;
    std::unique_ptr<CmfcVELKDlg> dlg = MakeDialog(appDir, options);
    dlg->show();
    dlg->SaveTo(record, 1);
    dlg->OnRec();
    if (!dlg->Recorder().IsFileOpen()) {
        std::fprintf(stderr, "soak_driver: cannot record to '%s'\n", record.c_str());
        return 1;
    }

    CLatenessWatch guiWatch(std::chrono::milliseconds(20));
    QTimer watchdog;
    watchdog.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { guiWatch.Tick(); });
    watchdog.start(20);

    // The reference: a thread that only sleeps, to tell the machine's load from our own stalls.
    std::atomic<bool> isReferenceRunning{true};
    CLatenessWatch referenceWatch(std::chrono::milliseconds(20));
    std::thread reference([&] {
        while (isReferenceRunning) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            referenceWatch.Tick();
        }
    });

    // How long the driver's own actions held the GUI thread, to tell them from other stalls.
    double longestStartMs = 0;
    double longestSettingsMs = 0;
    const auto timed = [](double& longest, const auto& action) {
        const auto start = std::chrono::steady_clock::now();
        action();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
    };

    int starts = 0;
    std::string startedOn;
    QTimer linkWatch;
    QObject::connect(&linkWatch, &QTimer::timeout, [&] {
        const std::string target = LinkTarget(port);
        if (!target.empty() && target != startedOn) {
            startedOn = target;
            ++starts;
            timed(longestStartMs, [&] { dlg->OnStart(); });
        }
    });
    linkWatch.start(100);

    long heapAtMarkKib = -1;  // the heap in use when SIGUSR1 came
    int step = 0;
    QTimer settings;
    QObject::connect(&settings, &QTimer::timeout,
                     [&] { timed(longestSettingsMs, [&] { ChangeSettings(*dlg, ++step); }); });
    settings.start(settingsEveryMs);

    // After SIGTERM: the frames still on their way are handled first; the counts are final once
    // nothing has moved for a second (or after ten seconds at most).
    QElapsedTimer sinceChange;
    QElapsedTimer sinceFinish;
    FrameCollectorCounts lastCollector;
    PipelineCounts lastPipeline;
    QTimer settle;
    QObject::connect(&settle, &QTimer::timeout, [&] {
        const FrameCollectorCounts collector = dlg->Session().CollectorCounts();
        const PipelineCounts pipeline = dlg->Pipeline().Counts();
        if (collector.markersSeen != lastCollector.markersSeen ||
            pipeline.framesQueued != lastPipeline.framesQueued ||
            pipeline.framesProcessed != lastPipeline.framesProcessed ||
            pipeline.framesReplaced != lastPipeline.framesReplaced || pipeline.framesWaiting > 0) {
            lastCollector = collector;
            lastPipeline = pipeline;
            sinceChange.restart();
        }
        if (sinceChange.elapsed() < 1000 && sinceFinish.elapsed() < 10000) {
            return;
        }
        settle.stop();
        dlg->OnStop();
        const CLatenessWatch::Figures gui = guiWatch.Result();
        isReferenceRunning = false;
        reference.join();
        const CLatenessWatch::Figures ref = referenceWatch.Result();
        std::printf("soak: starts=%d settings_changes=%d\n", starts, step);
        std::printf("soak: collector markers_seen=%llu reported=%llu discarded=%llu\n",
                    U(collector.markersSeen), U(collector.framesReported),
                    U(collector.FramesDiscarded()));
        std::printf(
            "soak: pipeline queued=%llu processed=%llu replaced=%llu rejected=%llu "
            "waiting=%llu\n",
            U(pipeline.framesQueued), U(pipeline.framesProcessed), U(pipeline.framesReplaced),
            U(pipeline.framesRejected), U(pipeline.framesWaiting));
        const auto printLateness = [](const char* name, const CLatenessWatch::Figures& f) {
            std::printf(
                "soak: %s worst_ms=%.1f at_s=%.1f cpu_ms=%.1f cpu_wait_ms=%.1f "
                "own_worst_ms=%.1f own_at_s=%.1f over_50ms=%llu ticks=%llu "
                "sched_stats=%d\n",
                name, f.worstMs, f.worstAtSeconds, f.worstCpuMs, f.worstWaitMs, f.worstOwnMs,
                f.worstOwnAtSeconds, U(f.over50Ms), U(f.ticks), f.hasSchedStats ? 1 : 0);
        };
        printLateness("gui_lateness", gui);
        printLateness("reference_lateness", ref);
        std::printf("soak: heap_kib at_mark=%ld end=%ld sanitizer=%d\n", heapAtMarkKib,
                    HeapInUseKib(), __sanitizer_get_current_allocated_bytes != nullptr ? 1 : 0);
        std::printf("soak: longest_start_ms=%.1f longest_settings_change_ms=%.1f\n", longestStartMs,
                    longestSettingsMs);
        std::fflush(stdout);
        dlg->RunCloseSequence();
        QApplication::quit();
    });
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char what = 0;
        if (::read(g_signalPipe[0], &what, 1) != 1) {
            return;
        }
        if (what == kMark) {
            heapAtMarkKib = HeapInUseKib();
            return;
        }
        signalNotifier.setEnabled(false);
        linkWatch.stop();
        settings.stop();
        sinceChange.start();
        sinceFinish.start();
        settle.start(100);
    });

    QApplication::exec();
    if (reference.joinable()) {
        isReferenceRunning = false;
        reference.join();
    }
    dlg.reset();
    return 0;
}
