#pragma once
// Helpers shared by the GUI tests: a main dialog on a private program directory, and a frame
// with the display image an independent pipeline makes of it.
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/mfc_velk_dlg.h"

// A started-up main dialog whose optional files are looked up in dir.
inline std::unique_ptr<CmfcVELKDlg> MakeDialog(const QTemporaryDir& dir,
                                               ViewerOptions options = {}) {
    options.appDir = dir.path().toStdString() + "/";
    auto dlg = std::make_unique<CmfcVELKDlg>(nullptr, options);
    dlg->OnInitDialog();
    return dlg;
}

// A temperature frame block with a gradient down and across it, so that a flipped, mirrored or
// colour-swapped picture of it differs from the right one.
inline std::vector<uint8_t> MakeGradientBlock() {
    std::vector<uint8_t> block(2112, 0);
    const auto put = [&](int word, uint16_t value) {
        block[2 * word] = static_cast<uint8_t>(value & 0xFF);
        block[2 * word + 1] = static_cast<uint8_t>(value >> 8);
    };
    for (int i = 0; i < 992; ++i) {
        put(i, static_cast<uint16_t>(2900 + 3 * (i / 32) + i % 32));
    }
    put(1024, 0x789A);  // the frame marker
    put(1025, 0xBCDE);
    return block;
}

// The 320 x 310 display image (red, green, blue, top row first) of a `K` block, made by a
// pipeline of its own with the main dialog's start-up settings.
inline std::vector<uint8_t> ReferenceImage(const std::vector<uint8_t>& block) {
    CFramePipeline reference;
    reference.SetUnit(2);
    reference.SetElOffsetSubtraction(1);
    reference.SetInterpolation(1);
    std::vector<uint8_t> image;
    reference.SetCallback(
        [](void* owner, const char*, const std::string&, const uint8_t*, const uint8_t* rgb,
           const uint16_t*) {
            static_cast<std::vector<uint8_t>*>(owner)->assign(rgb, rgb + 320 * 310 * 3);
        },
        &image);
    reference.ProcessFrameNow('K', 2112, block.data());
    return image;
}
