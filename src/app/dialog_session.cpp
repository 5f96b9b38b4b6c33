// The device session of the main dialog: the port list and hot-plug, START and the handshake,
// TURN OFF, and the two callbacks that carry the module's bytes (OnReceive) and complete replies
// (OnReply) from the serial monitor thread. Those callbacks never touch a widget: they post.
#include <QAbstractButton>
#include <QComboBox>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <thread>

#include "app/mfc_velk_dlg.h"
#include "controls/spin_button.h"
#include "device/command_list.h"
#include "device/dev_watcher.h"
#include "device/mclk.h"
#include "device/module_simulator.h"
#include "device/port_enumerator.h"
#include "device/receive_batch.h"
#include "device/tty_monitor.h"
#include "res/dialog_builder.h"
#include "res/resource.h"

namespace {

// The module writes single-byte text; the log box takes UTF-8.
std::string Latin1ToUtf8(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

}  // namespace

void CmfcVELKDlg::ConnectSessionHandlers() {
    m_serialPort.m_disconnectCallback = &CmfcVELKDlg::OnDeviceGone;
    m_pHandshake = std::make_unique<CHandshake>(CHandshake::Actions{
        [this](const std::string& text) { SendCommandText(text); },
        [this] { SetTimer(IDT_HANDSHAKE_TIMEOUT, 1000); },
        [this] { KillTimer(IDT_HANDSHAKE_TIMEOUT); },
        [this] { AppendLog("[" + m_comPortName + "]Timeout to Receive M Message.\r\n"); },
    });

    const auto onClick = [this](int id, auto handler) {
        connect(static_cast<QAbstractButton*>(GetDlgItem(id)), &QAbstractButton::clicked, this,
                handler);
    };
    onClick(IDC_START, [this] { OnStart(); });
    onClick(IDC_TURN_OFF, [this] { OnTurnOff(); });
    onClick(IDC_SEND, [this] { SendCommand(); });
    onClick(IDC_CALIBRATION, [this] { OnCalibrationConstants(); });
    onClick(IDC_TOGGLE_BUFFER, [this] { OnToggleBuffer(); });
    onClick(IDC_TOGGLE_AMPL, [this] { OnToggleAmpl(); });
    if (auto* spin = qobject_cast<CSpinButton*>(GetDlgItem(IDC_MCLK_SPIN))) {
        connect(spin, &CSpinButton::deltaPos, this,
                [this](int pos, int delta) { OnMclkDeltaPos(pos, delta); });
    }

    if (m_options.demo) {
        m_pDemoModule = std::make_unique<CModuleSimulator>(SimulatorOptions{});
        if (const std::string error = m_pDemoModule->Start(); !error.empty()) {
            AppendLog("[Demo] " + error + "\r\n");
            m_pDemoModule.reset();
        }
    }
    // The simulated module's port and a port named on the command line join the list and the
    // last of them is selected, so START connects at once.
    std::string chosen = m_options.port;
    if (m_pDemoModule) {
        chosen = m_pDemoModule->SlavePath();
    }
    if (!chosen.empty()) {
        FillComPortList();
        QComboBox* ports = Combo(IDC_COM_PORTS);
        const int index = ports->findText(QString::fromStdString(chosen));
        if (index < 0) {
            AppendLog("[" + chosen + "] Unable to open!\r\n");
        }
        ports->setCurrentIndex(index);
    }
    WatchDeviceChanges();
    if (m_options.start) {
        QTimer::singleShot(0, this, [this] { OnStart(); });
    }
}

std::vector<std::string> CmfcVELKDlg::EnumerateComPorts() {
    std::vector<std::string> extra;
    if (!m_options.port.empty()) {
        extra.push_back(m_options.port);
    }
    if (m_pDemoModule) {
        extra.push_back(m_pDemoModule->SlavePath());
    }
    return ::EnumerateComPorts("/dev", extra);
}

void CmfcVELKDlg::FillComPortList() {
    QComboBox* ports = Combo(IDC_COM_PORTS);
    ports->clear();
    for (const std::string& name : EnumerateComPorts()) {
        ComboAddString(ports, QString::fromStdString(name));
    }
    ports->setCurrentIndex(-1);
}

void CmfcVELKDlg::ReloadComPorts() {
    AppendLog("[COM?]Detect Device Change. Reload COM Port device.\r\n");
    FillComPortList();
}

void CmfcVELKDlg::WatchDeviceChanges() {
    // udev announces adapters where its daemon runs; inotify on /dev covers systems without
    // one (containers). Either may be missing; the list then only changes at START.
    m_pTtyMonitor = std::make_unique<CTtyMonitor>();
    if (m_pTtyMonitor->IsValid()) {
        auto* notifier = new QSocketNotifier(m_pTtyMonitor->Fd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            if (m_pTtyMonitor->DrainEvents() && !m_isClosing) {
                ReloadComPorts();
            }
        });
    }
    m_pDevWatcher = std::make_unique<CDevWatcher>("/dev");
    if (m_pDevWatcher->IsValid()) {
        auto* notifier = new QSocketNotifier(m_pDevWatcher->Fd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            if (m_pDevWatcher->DrainEvents() && !m_isClosing) {
                ReloadComPorts();
            }
        });
    }
}

void CmfcVELKDlg::OnStart() {
    const std::string text = Combo(IDC_COM_PORTS)->currentText().toStdString();
    SetHandshakeState(0);
    const std::string name = TrimWhiteSpace(text);
    if (!name.empty()) {
        OpenSession(name);
    } else {
        AppendLog("[COM?] Select a Interface.\r\n");
    }
    SendCommandText("K");
}

void CmfcVELKDlg::OpenSession(const std::string& name) {
    if (m_serialPort.IsOpen()) {
        m_serialPort.Close();
    }
    if (m_serialPort.Open(name) != 0) {
        AppendLog("[" + name + "] Unable to open!\r\n");
        return;
    }
    AppendLog("[" + name + "] Open OK!\r\n");
    m_comPortName = name;
    SetHandshakeState(1);
}

void CmfcVELKDlg::SetHandshakeState(int state) {
    m_pHandshake->SetState(state);
    m_handshakeState = m_pHandshake->State();
}

void CmfcVELKDlg::OnHandshakeTimeout() {
    SetHandshakeState(5);
    KillTimer(IDT_HANDSHAKE_TIMEOUT);
}

void CmfcVELKDlg::OnTurnOff() {
    if (!m_serialPort.IsOpen()) {
        return;
    }
    SendCommandText("T");
    const uint8_t stop = 'x';
    uint32_t written = 0;
    m_serialPort.Write(1, &stop, &written);
    for (int pass = 0; pass < 100; ++pass) {
        if (!PumpPendingMessages()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    SetHandshakeState(0);
}

void CmfcVELKDlg::ShowMclk(const std::string& text, bool isStepReply) {
    const auto mclk = FindMclk(text, isStepReply ? MclkMarker::LineEnd : MclkMarker::Kilohertz);
    if (mclk) {
        PostToGui([this, value = QString::fromLatin1(mclk->data(), mclk->size())] {
            SetDlgItemText(IDC_MCLK, value);
        });
    }
}

void CmfcVELKDlg::OnReceive(void* context, uint32_t count, uint32_t errors, const uint8_t* bytes) {
    auto* dlg = static_cast<CmfcVELKDlg*>(context);
    if (dlg->m_isClosing) {
        return;
    }
    dlg->m_hReceiveDone.Reset();
    const bool isClean = FeedReceivedBatch(
        count, errors, bytes, [dlg](int n, const uint8_t* p) { dlg->m_pReplyList->Feed(n, p); });
    if (!isClean) {
        // A damaged batch is dropped whole; the module is stopped and asked again.
        dlg->RecoverStream();
    }
    dlg->m_hReceiveDone.Set();
}

void CmfcVELKDlg::OnReply(void* context, CCommandReply* reply, const std::string& text,
                          const uint8_t* bytes, int count) {
    auto* dlg = static_cast<CmfcVELKDlg*>(context);
    if (dlg->m_isClosing) {
        return;
    }
    dlg->m_hHandlerIdle.Reset();
    const std::string& command = reply->CommandText();
    if (command == "k" || command == "K" || command == "c" || command == "t") {
        if (dlg->m_pStats)
            dlg->m_pStats->FrameArrived(bytes, count);
        dlg->m_pipeline.QueueFrame(command[0], count, bytes);
        if (command == "K" || command == "t") {
            bool isTicked = false;
            {
                std::lock_guard lock(dlg->m_fpsMeterLock);
                if (dlg->m_pFpsMeter) {
                    dlg->m_fpsText = dlg->m_pFpsMeter->Tick();
                    isTicked = true;
                }
            }
            // The box shows the newest rate; at most one update waits in the GUI queue.
            if (isTicked && !dlg->m_isFpsPostPending.exchange(true)) {
                dlg->PostToGui([dlg] {
                    dlg->m_isFpsPostPending = false;
                    QString rate;
                    {
                        std::lock_guard lock(dlg->m_fpsMeterLock);
                        rate = QString::fromStdString(dlg->m_fpsText);
                    }
                    dlg->SetDlgItemText(IDC_FPS, rate);
                });
            }
        }
    } else if (command == "M") {
        dlg->AppendLog(Latin1ToUtf8(text) + "\r\n");
        dlg->ShowMclk(text, false);
        dlg->PostToGui([dlg] {
            if (!dlg->m_isClosing) {
                dlg->m_pHandshake->OnInfoReply();
                dlg->m_handshakeState = dlg->m_pHandshake->State();
            }
        });
    } else if (command == "a" || command == "A") {
        dlg->AppendLog(Latin1ToUtf8(text) + "\r\n");
        dlg->ShowMclk(text, true);
    } else {
        // "b", "w" and every other text reply; a "C" frame only says "Frame data...".
        dlg->AppendLog(Latin1ToUtf8(text) + "\r\n");
    }
    dlg->m_hHandlerIdle.Set();
}

void CmfcVELKDlg::OnDeviceGone(void* context) {
    auto* dlg = static_cast<CmfcVELKDlg*>(context);
    // The port's name is fixed while its monitor runs, unlike m_comPortName.
    dlg->AppendLog("[" + dlg->m_serialPort.PortName() + "] Device disconnected.\r\n");
}
