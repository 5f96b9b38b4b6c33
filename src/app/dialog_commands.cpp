// Commands to the module: the command list, sending a command through the session, and the fixed
// sequences behind the device buttons. GUI thread.
#include <QComboBox>
#include <chrono>
#include <thread>

#include "app/mfc_velk_dlg.h"
#include "device/command_list.h"
#include "platform/program_files.h"
#include "res/resource.h"

namespace {
using namespace std::chrono_literals;

bool IsDataMode(uint8_t letter) {
    return letter == 'K' || letter == 'k' || letter == 'c' || letter == 't';
}
}  // namespace

void CmfcVELKDlg::LoadCommandList() {
    QComboBox* commands = Combo(IDC_COMMANDS);
    const std::string path =
        FindProgramFile(m_appDir, "CmdList.TXT").value_or(m_appDir + "CmdList.TXT");
    for (const std::string& entry : LoadCommandListFile(path)) {
        commands->addItem(QString::fromStdString(entry));
    }
    commands->setCurrentIndex(-1);
    commands->setEditText(QString());
}

void CmfcVELKDlg::SendCommand() {
    if (m_pRemoteModule) {
        const std::string text = Combo(IDC_COMMANDS)->currentText().toStdString();
        if (SendRemoteCommand(text)) {
            ApplyCommandToControls(static_cast<uint8_t>(text.front()));
        }
        return;
    }
    if (const auto letter =
            m_session.SendCommand(Combo(IDC_COMMANDS)->currentText().toStdString())) {
        ApplyCommandToControls(*letter);
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
    if (!IsModuleReachable()) {
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
    if (!IsModuleReachable()) {
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
    if (!IsModuleReachable()) {
        return;
    }
    SendLetter('x');
    std::this_thread::sleep_for(100ms);
    SendLetter('m');
}

void CmfcVELKDlg::OnToggleAmpl() {
    if (IsModuleReachable()) {
        SendLetter('J');
    }
}

void CmfcVELKDlg::OnMclkDeltaPos(int, int delta) {
    if (!IsModuleReachable()) {
        return;
    }
    if (delta == 1) {
        SendLetter('a');
    } else if (delta == -1) {
        SendLetter('A');
    }
}
