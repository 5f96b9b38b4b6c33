#pragma once
// Helpers shared by the GUI tests: a main dialog on a private program directory, alone or on the
// port of a simulated module, a click on its buttons, a frame with the display image an
// independent pipeline makes of it, and the history of the log box.
#include <QAbstractButton>
#include <QObject>
#include <QPlainTextEdit>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/mfc_velk_dlg.h"
#include "device/module_simulator.h"
#include "res/resource.h"

// A started-up main dialog whose optional files are looked up in dir.
inline std::unique_ptr<CmfcVELKDlg> MakeDialog(const QTemporaryDir& dir,
                                               ViewerOptions options = {}) {
    options.appDir = dir.path().toStdString() + "/";
    auto dlg = std::make_unique<CmfcVELKDlg>(nullptr, options);
    dlg->OnInitDialog();
    return dlg;
}

// A simulated module started on a pseudo-terminal and a started-up main dialog set to its port,
// with a program directory of their own.
struct SimulatedViewer {
    explicit SimulatedViewer(const SimulatorOptions& simOptions, ViewerOptions options = {})
        : sim(simOptions), startError(QString::fromStdString(sim.Start())) {
        options.port = sim.SlavePath();
        dlg = MakeDialog(dir, options);
    }
    CModuleSimulator sim;
    const QString startError;  // empty when the module runs
    QTemporaryDir dir;
    std::unique_ptr<CmfcVELKDlg> dlg;
};

// What the user's click on the dialog's button `id` does.
inline void Click(CmfcVELKDlg& dlg, int id) {
    static_cast<QAbstractButton*>(dlg.GetDlgItem(id))->click();
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

// Everything the log box has shown, since it replaces its content after five lines.
class LogHistory {
  public:
    explicit LogHistory(CmfcVELKDlg& dlg) {
        auto* box = static_cast<QPlainTextEdit*>(dlg.GetDlgItem(IDC_LOG));
        QObject::connect(box, &QPlainTextEdit::textChanged, box,
                         [this, box] { m_seen += box->toPlainText() + QStringLiteral("\n--\n"); });
    }
    bool Contains(const QString& text) const { return m_seen.contains(text); }
    // Occurrences of a whole log line: counted where it was first appended.
    int Count(const QString& line) const { return m_seen.count(line + QStringLiteral("\n\n--")); }
    const QString& All() const { return m_seen; }
    void Clear() { m_seen.clear(); }

  private:
    QString m_seen;
};
