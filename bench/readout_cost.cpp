// What the status bar's readouts cost per frame: the viewer's work for a frame (processing,
// presentation, painting) with the pointer moving over the image and a region set, against the
// same frames with the pointer elsewhere. Both kinds of round alternate in one run and are timed
// in the GUI thread's own CPU time, so other load on the machine hardly moves the ratio. Two
// pointer moves come with every frame: more than a hand gives at 100 frames a second.
//
//   QT_QPA_PLATFORM=offscreen build/bin/bench_readout_cost [FRAMES_PER_ROUND]   (default 400)
#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "app/mfc_velk_dlg.h"
#include "frame/frame_block.h"
#include "res/resource.h"

namespace {

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::vector<uint8_t> Block(int n) {
    FrameData frame{};
    for (int i = 0; i < kPixelCount; ++i) {
        frame.values[i] = static_cast<uint16_t>(2900 + (i * 7 + n * 13) % 300);
    }
    std::vector<uint8_t> block(kFrameBlockSize);
    EncodeFrameBlock(frame, block.data());
    PutFrameMarker(block.data());
    return block;
}

void Mouse(QWidget* image, QEvent::Type type, QPoint at, Qt::MouseButton button) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, QPointF(at), QPointF(image->mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(image, &event);
}

// CPU seconds of the GUI thread for `frames` frames, each shown and painted.
double Round(CmfcVELKDlg& dlg, const std::vector<std::vector<uint8_t>>& blocks, int frames,
             bool readouts) {
    QWidget* image = dlg.GetDlgItem(IDC_IMAGE);
    if (readouts) {
        Mouse(image, QEvent::MouseButtonPress, QPoint(40, 40), Qt::LeftButton);
        Mouse(image, QEvent::MouseMove, QPoint(160, 120), Qt::LeftButton);
        Mouse(image, QEvent::MouseButtonRelease, QPoint(160, 120), Qt::LeftButton);
    } else {
        dlg.SetRegion(std::nullopt);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(image, &leave);
    }
    QApplication::processEvents();
    const double start = ThreadCpuSeconds();
    for (int n = 0; n < frames; ++n) {
        if (readouts) {
            for (int step = 0; step < 2; ++step) {
                const int k = 2 * n + step;
                Mouse(image, QEvent::MouseMove,
                      QPoint(k * 7 % image->width(), k * 5 % image->height()), Qt::NoButton);
            }
        }
        const std::vector<uint8_t>& block = blocks[static_cast<size_t>(n) % blocks.size()];
        dlg.Pipeline().ProcessFrameNow('K', kFrameBlockSize, block.data());
        QApplication::processEvents();
    }
    return ThreadCpuSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 400;
    QTemporaryDir dir;
    ViewerOptions options;
    options.appDir = dir.path().toStdString() + "/";
    CmfcVELKDlg dlg(nullptr, options);
    dlg.OnInitDialog();
    dlg.show();
    std::vector<std::vector<uint8_t>> blocks;
    for (int n = 0; n < 16; ++n) {
        blocks.push_back(Block(n));
    }
    Round(dlg, blocks, frames / 4, true);  // warm-up
    std::vector<double> ratios;
    double plainTotal = 0;
    double readoutTotal = 0;
    for (int round = 0; round < 7; ++round) {
        const double plain = Round(dlg, blocks, frames, false);
        const double withReadouts = Round(dlg, blocks, frames, true);
        plainTotal += plain;
        readoutTotal += withReadouts;
        ratios.push_back(withReadouts / plain);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("frame without readouts   %7.1f us (GUI thread CPU, baseline)\n",
                plainTotal / (7.0 * frames) * 1e6);
    std::printf("frame with readouts      %7.1f us  ratio %.3f (median of 7 rounds %.3f)\n",
                readoutTotal / (7.0 * frames) * 1e6, readoutTotal / plainTotal, ratios[3]);
    dlg.RunCloseSequence();
    return 0;
}
