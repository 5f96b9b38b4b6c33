// A module on an MQTT broker in place of the serial port: START with "mqtt://HOST[:PORT]/PREFIX"
// in the port box subscribes to the module's frames, which then take the very path of a local
// module's frames (pipeline, image, chart, readouts, recordings, snapshots). The command box
// publishes to the module, its replies reach the log box, and TURN OFF or closing only
// unsubscribe: the module, which may have other viewers, goes on. The remote module's callbacks
// come on its network thread and only post or queue, as the serial monitor's do.
#include <unistd.h>

#include "app/mfc_velk_dlg.h"
#include "platform/one_line.h"
#include "res/resource.h"

void CmfcVELKDlg::StartRemote(const std::string& addressText) {
    StopRemote();
    if (m_session.IsOpen()) {
        OnTurnOff();  // one module at a time: the local one stops streaming
    }
    // The tag of its log lines: never a password typed into the address, never a control or
    // format character.
    std::string tag = "[";
    tag.append(OneLine(RedactedMqttAddress(addressText)));
    tag.append("] ");
    Result<MqttModuleAddress> address = ParseMqttModuleAddress(addressText);
    if (!address) {
        AppendLog(tag + address.Message() + "\r\n");
        return;
    }
    if (const Status plain = CheckNoTls(address.Value().broker); !plain) {
        AppendLog(tag + plain.Message() + "\r\n");
        return;
    }
    MqttClientOptions options;
    options.broker = address.Value().broker;
    options.clientId = "thermal-viewer-" + std::to_string(::getpid());
    RemoteModuleCallbacks callbacks;
    callbacks.frame = [this](char letter, const uint8_t* block, int count) {
        OnRemoteFrame(letter, block, count);
    };
    callbacks.reply = [this](const std::string& text) {
        OnReply(std::string(1, m_remoteCommand.load()), text, ++m_remoteReplySerial);
    };
    callbacks.notice = [this, tag](const std::string& line) { AppendLog(tag + line + "\r\n"); };
    m_remoteModeLetter = 0;
    {
        std::lock_guard lock(m_remoteRateLock);
        m_remoteRate = CFpsMeter();
    }
    // QoS 1, as the recorder: a recording made here keeps every frame the publisher sent.
    auto module =
        std::make_unique<CRemoteModule>(address.Value(), options, std::move(callbacks), 1);
    if (const Status started = module->Start(); !started) {
        AppendLog(tag + started.Message() + "\r\n");
        return;
    }
    m_isRecordingStopPosted = false;
    m_pRemoteModule = std::move(module);
}

void CmfcVELKDlg::StopRemote() {
    if (m_pRemoteModule) {
        m_pRemoteModule->Stop();
        AppendLog("[" + m_pRemoteModule->Address().prefix +
                  "] unsubscribed: nothing was sent to the module, which goes on for its other "
                  "viewers\r\n");
        m_pRemoteModule.reset();
    }
}

void CmfcVELKDlg::OnRemoteFrame(char letter, const uint8_t* block, int count) {
    // The controls follow the data the module sends, as they follow a data command sent here.
    if (m_remoteModeLetter.exchange(letter) != letter) {
        PostToGui([this, letter] { ApplyCommandToControls(static_cast<uint8_t>(letter)); });
    }
    std::string rate;
    {
        std::lock_guard lock(m_remoteRateLock);
        rate = m_remoteRate.Tick();
    }
    ShowRate(rate);
    OnFrameReceived(letter, block, count);
}

bool CmfcVELKDlg::SendRemoteCommand(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    const char letter = text.front();
    m_remoteCommand = letter;
    if (!m_pRemoteModule->SendCommand(letter)) {
        AppendLog("[" + m_pRemoteModule->Address().prefix +
                  "] not connected to the broker: command not sent\r\n");
        return false;
    }
    return true;
}

bool CmfcVELKDlg::IsModuleReachable() const {
    return m_session.IsOpen() || m_pRemoteModule != nullptr;
}
