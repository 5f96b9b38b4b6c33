// Commands to the module: the command list, sending a command, and the fixed sequences behind
// the device buttons. Everything here runs on the GUI thread except RecoverStream, which the
// serial monitor thread runs on a line error and which only posts to the controls.
#include <QComboBox>
#include <chrono>
#include <thread>

#include "app/mfc_velk_dlg.h"
#include "device/command_list.h"
#include "platform/program_files.h"
#include "res/resource.h"

namespace {
using namespace std::chrono_literals;

bool IsContinuousStream(uint8_t letter) {
    return letter == 'K' || letter == 't';
}
bool IsDataMode(uint8_t letter) {
    return letter == 'K' || letter == 'k' || letter == 'c' || letter == 't';
}
}  // namespace

void CmfcVELKDlg::LoadCommandList() {
    QComboBox* commands = Combo(IDC_COMMANDS);
    const std::string path =
        FindFileNoCase(m_appDir, "CmdList.TXT").value_or(m_appDir + "CmdList.TXT");
    for (const std::string& entry : LoadCommandListFile(path)) {
        commands->addItem(QString::fromStdString(entry));
    }
    commands->setCurrentIndex(-1);
    commands->setEditText(QString());
}

void CmfcVELKDlg::SendCommand() {
    if (!m_serialPort.IsOpen()) {
        AppendLog("[COM?] Select a Interface.\r\n");
        return;
    }
    const auto letter = CommandByteFromText(Combo(IDC_COMMANDS)->currentText().toStdString());
    if (!letter) {
        return;
    }
    IssueCommand(*letter);
    ApplyCommandToControls(*letter);
}

void CmfcVELKDlg::IssueCommand(uint8_t letter) {
    // The collector is registered before the byte goes out: a module (or a pseudo-terminal)
    // can answer within microseconds, and an answer that beat the registration would be fed to
    // the previous command's collector and lost. A failed write is not reported: the reply
    // simply never completes.
    m_pReplyList->AddCommand(std::string(1, static_cast<char>(letter)), letter);
    uint32_t written = 0;
    m_serialPort.Write(1, &letter, &written);
    if (IsContinuousStream(letter)) {
        std::lock_guard lock(m_fpsMeterLock);
        m_pFpsMeter = std::make_unique<CFpsMeter>();
    }
}

void CmfcVELKDlg::ApplyCommandToControls(uint8_t letter) {
    for (int id : {IDC_DELTA_T, IDC_TCENTRE, IDC_DELTA_V, IDC_VCENTRE}) {
        EnableControl(id, true);
    }
    if (!IsDataMode(letter)) {
        return;
    }
    m_modeLetter = static_cast<char>(letter);
    const bool isTemperature = letter == 'K' || letter == 'k';
    ApplyDataMode(isTemperature ? 1 : 2);
    ShowBufferStatus();
    ApplyManualScaling();
}

void CmfcVELKDlg::SendCommandText(const std::string& text) {
    if (!m_serialPort.IsOpen()) {
        return;
    }
    Combo(IDC_COMMANDS)->setEditText(QString::fromStdString(text));
    SendCommand();
    for (int pass = 0; pass < 50; ++pass) {
        if (!PumpPendingMessages()) {
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
}

void CmfcVELKDlg::SendLetter(char letter) {
    Combo(IDC_COMMANDS)->setEditText(QString(QChar::fromLatin1(letter)));
    SendCommand();
}

void CmfcVELKDlg::OnCalibrationConstants() {
    if (!m_serialPort.IsOpen()) {
        return;
    }
    SendLetter('x');
    for (int pass = 0; pass < 100; ++pass) {
        if (!PumpPendingMessages()) {
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    m_exportCalibration = 1;
    SendLetter('w');
}

void CmfcVELKDlg::OnToggleBuffer() {
    if (!m_serialPort.IsOpen()) {
        return;
    }
    SendLetter('x');
    std::this_thread::sleep_for(100ms);
    SendLetter('m');
}

void CmfcVELKDlg::OnToggleAmpl() {
    if (m_serialPort.IsOpen()) {
        SendLetter('J');
    }
}

void CmfcVELKDlg::OnMclkDeltaPos(int, int delta) {
    if (!m_serialPort.IsOpen()) {
        return;
    }
    if (delta == 1) {
        SendLetter('a');
    } else if (delta == -1) {
        SendLetter('A');
    }
}

void CmfcVELKDlg::RecoverStream() {
    // Runs on the serial monitor thread: the bytes go out from here, the command field and the
    // other controls follow on the GUI thread.
    const std::string last = m_pReplyList->LastCommandText();
    const auto send = [this](uint8_t letter) {
        IssueCommand(letter);
        PostToGui([this, letter] {
            Combo(IDC_COMMANDS)->setEditText(QString(QChar::fromLatin1(static_cast<char>(letter))));
            ApplyCommandToControls(letter);
        });
    };
    send('x');
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    m_serialPort.Purge(1, 1);
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    send(static_cast<uint8_t>(last[0]));
}
