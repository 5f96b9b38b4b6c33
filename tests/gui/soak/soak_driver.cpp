// The viewer under a long run, driven as a user would drive it, for scripts/soak.sh. It opens the
// main dialog on the port named by --port (a link that `thermal sim --link` keeps pointing at its
// terminal), records a binary stream from the start, presses START at the beginning and again
// each time the link points at a new terminal (the simulated module was unplugged and came
// back), and changes palette, stacks, unit, mirroring and interpolation every few seconds. A
// watchdog timer on the GUI thread measures how late it fires; a plain thread does the same as a
// reference for what the machine's load alone costs. On SIGTERM it waits until the frames on
// their way have been handled, stops the recording, prints its figures as "soak: key=value"
// lines on stdout, closes the dialog and exits with status 0.
//
// Usage: soak_driver --port LINK --record FILE.bds [--settings-every MS]
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

void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
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
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--port") {
            port = argv[i + 1];
        } else if (arg == "--record") {
            record = argv[i + 1];
        } else if (arg == "--settings-every") {
            settingsEveryMs = std::max(100, std::atoi(argv[i + 1]));
        }
    }
    if (port.empty() || record.empty()) {
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
        std::printf("soak: longest_start_ms=%.1f longest_settings_change_ms=%.1f\n", longestStartMs,
                    longestSettingsMs);
        std::fflush(stdout);
        dlg->RunCloseSequence();
        QApplication::quit();
    });
    QSocketNotifier terminate(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&terminate, &QSocketNotifier::activated, [&] {
        terminate.setEnabled(false);
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
