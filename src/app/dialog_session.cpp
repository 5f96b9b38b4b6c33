// The device session of the main dialog: port list, receive and reply callbacks, TURN OFF.
// Placeholder until the device link lands: no port is listed and nothing is received.
#include "app/mfc_velk_dlg.h"

void CmfcVELKDlg::ConnectSessionHandlers() {}

std::vector<std::string> CmfcVELKDlg::EnumerateComPorts() {
    return {};
}

void CmfcVELKDlg::OnHandshakeTimeout() {}

void CmfcVELKDlg::OnTurnOff() {}

void CmfcVELKDlg::OnReceive(void*, uint32_t, uint32_t, const uint8_t*) {}

void CmfcVELKDlg::OnReply(void*, CCommandReply*, const std::string&, const uint8_t*, int) {}
