// The device session of the main dialog: the port list and hot-plug, and the glue to the core's
// CModuleSession, which runs START, the handshake, TURN OFF and the reception. The dialog hands
// it the presses of its buttons and presents what it reports; the reports that come from the
// serial monitor thread never touch a widget: they post.
#include <QAbstractButton>
#include <QComboBox>
#include <QTimer>
#include <chrono>
#include <thread>

#include "app/mfc_velk_dlg.h"
#include "app/port_combo.h"
#include "controls/spin_button.h"
#include "device/command_list.h"
#include "device/module_simulator.h"
#include "device/port_enumerator.h"
#include "platform/one_line.h"
#include "res/resource.h"

namespace {

// The module writes single-byte text; the log box takes UTF-8.
std::string Latin1ToUtf8(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

}  // namespace

void CmfcVELKDlg::ConnectSession() {
    m_session.SetCallbacks(CModuleSession::Callbacks{
        .frame = [this](char letter, const uint8_t* bytes,
                        int count) { OnFrameReceived(letter, bytes, count); },
        .textReply = [this](const std::string& command, const std::string& text,
                            uint64_t replySerial) { OnReply(command, text, replySerial); },
        .mclk = [this](const std::string& value) { ShowMclk(value); },
        .rate = [this](const std::string& rate) { ShowRate(rate); },
        .deviceLost = {},   // the session's log line says it
        .rateWarning = {},  // likewise
        .recoveryCommand = [this](uint8_t letter) { OnRecoveryCommand(letter); },
        .log = [this](const std::string& line) { AppendLog(line); },
        .post = [this](std::function<void()> task) { PostToGui(std::move(task)); },
        .sendCommandText = [this](const std::string& text) { SendCommandText(text); },
        .handshakeTimer =
            [this](bool isRunning) {
                if (isRunning) {
                    SetTimer(IDT_HANDSHAKE_TIMEOUT, 1000);
                } else {
                    KillTimer(IDT_HANDSHAKE_TIMEOUT);
                }
            },
    });
}

void CmfcVELKDlg::ConnectSessionHandlers() {
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
        const int index = FindPortIndex(ports, chosen);
        if (index < 0) {
            std::string line = "[";
            line.append(OneLine(RedactedMqttAddress(chosen)));
            line.append("] Unable to open!\r\n");
            AppendLog(line);
        }
        ports->setCurrentIndex(index);
    }
    m_deviceChanges.Start([this] {
        if (!m_isClosing) {
            ReloadComPorts();
        }
    });
    if (m_options.start) {
        QTimer::singleShot(0, this, [this] { OnStart(); });
    }
}

std::vector<std::string> CmfcVELKDlg::EnumerateComPorts() {
    std::vector<std::string> extra;
    // A broker address is no device to probe: it is listed as given.
    const bool isRemote = IsMqttAddress(m_options.port);
    if (!m_options.port.empty() && !isRemote) {
        extra.push_back(m_options.port);
    }
    if (m_pDemoModule) {
        extra.push_back(m_pDemoModule->SlavePath());
    }
    std::vector<std::string> ports = ::EnumerateComPorts("/dev", extra);
    if (isRemote) {
        ports.push_back(m_options.port);
    }
    return ports;
}

void CmfcVELKDlg::FillComPortList() {
    // A broker address typed into the box outlives a refill of the device list.
    QComboBox* ports = Combo(IDC_COM_PORTS);
    const std::string typed = SelectedPortPath(ports);
    FillPortCombo(ports, EnumerateComPorts());
    if (IsMqttAddress(typed) && FindPortIndex(ports, typed) < 0) {
        ports->setEditText(QString::fromStdString(typed));
    }
}

void CmfcVELKDlg::ReloadComPorts() {
    AppendLog("[COM?]Detect Device Change. Reload COM Port device.\r\n");
    FillComPortList();
}

void CmfcVELKDlg::OnStart() {
    // A recording stopped for lack of space reports again if it stops again.
    m_isRecordingStopPosted = false;
    // One source at a time, as "Play" turns the module off first: a play-back left running would
    // mix its frames with the live ones in the display, the readouts and a recording.
    StopPlayback();
    m_pipeline.StartRun();
    const std::string port = SelectedPortPath(Combo(IDC_COM_PORTS));
    if (IsMqttAddress(port)) {
        StartRemote(port);
        return;
    }
    StopRemote();  // one module at a time
    m_session.Start(port);
}

void CmfcVELKDlg::SetHandshakeState(::HandshakeState state) {
    m_session.SetHandshakeState(state);
}

void CmfcVELKDlg::OnHandshakeTimeout() {
    SetHandshakeState(::HandshakeState::TimedOut);
    KillTimer(IDT_HANDSHAKE_TIMEOUT);
}

void CmfcVELKDlg::OnTurnOff() {
    if (m_pRemoteModule) {
        // Only the subscription ends (StopRemote says so). A local port left open was turned
        // off when the remote module was started: telling it again would log its replies as if
        // the remote module had stopped.
        StopRemote();
        ShowFramesOnTheirWay();
    } else {
        m_session.TurnOff([this] { return PumpPendingMessages() != 0; });
    }
    // Frames shown while it was pumping have been read; the readout stays empty until the next.
    m_statusReadouts.ShowFrame(nullptr);
}

void CmfcVELKDlg::ShowFramesOnTheirWay() {
    using namespace std::chrono;
    // Every queued frame processed (its presentation then already posted), or a time-out for a
    // processing thread that is stuck.
    const auto isDrained = [this] {
        const PipelineCounts counts = m_pipeline.Counts();
        return counts.framesQueued ==
               counts.framesProcessed + counts.framesReplaced + counts.framesRejected;
    };
    const auto deadline = steady_clock::now() + milliseconds(500);
    while (!isDrained() && steady_clock::now() < deadline) {
        if (!PumpPendingMessages()) {
            return;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    PumpPendingMessages();
}

void CmfcVELKDlg::OnFrameReceived(char letter, const uint8_t* bytes, int count) {
    if (m_isClosing) {
        return;
    }
    if (m_pStats) {
        m_pStats->FrameArrived(bytes, count);
    }
    m_pipeline.QueueFrame(letter, count, bytes);
}

void CmfcVELKDlg::OnReply(const std::string& command, const std::string& text,
                          uint64_t replySerial) {
    // A later completion of the same reply holds this one's text: while the log has not shown
    // the first, it replaces it instead of queueing another copy of megabytes.
    if (m_textReplies.Put(replySerial, text)) {
        PostToGui([this] { ShowNextTextReply(); });
    }
    // The export takes the first complete table, as it arrived.
    if (command == "w" && m_exportCalibration.exchange(0) != 0) {
        m_calibrationExport.ExportLater(text);
    }
}

void CmfcVELKDlg::ShowNextTextReply() {
    if (std::optional<std::string> text = m_textReplies.Take()) {
        // Lines as the module sent them; anything else it sent shows as escapes.
        AppendLog(PrintableLines(Latin1ToUtf8(*text)) + "\r\n");
    }
}

void CmfcVELKDlg::ShowMclk(const std::string& value) {
    PostToGui(
        [this, mclk = QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size()))] {
            SetDlgItemText(IDC_MCLK, mclk);
        });
}

void CmfcVELKDlg::ShowRate(const std::string& rate) {
    // The box shows the newest rate; at most one update waits in the GUI queue.
    if (m_pendingRate.Put(rate)) {
        PostToGui([this] {
            if (std::optional<std::string> newest = m_pendingRate.Take()) {
                SetDlgItemText(IDC_FPS, QString::fromStdString(*newest));
            }
        });
    }
}

void CmfcVELKDlg::OnRecoveryCommand(uint8_t letter) {
    // The command field and the controls follow the recovery's commands as if they were typed.
    PostToGui([this, letter] {
        Combo(IDC_COMMANDS)->setEditText(QString(QChar::fromLatin1(static_cast<char>(letter))));
        ApplyCommandToControls(letter);
    });
}
