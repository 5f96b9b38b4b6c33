// Per-frame presentation and the window timers of the main dialog.
#include <cstring>

#include "app/mfc_velk_dlg.h"
#include "res/resource.h"

void CmfcVELKDlg::OnFrameReady(void* owner, const char*, const std::string&, const uint8_t*,
                               const uint8_t* image, const uint16_t*) {
    auto* dlg = static_cast<CmfcVELKDlg*>(owner);
    if (dlg->m_isClosing)
        return;
    std::lock_guard lock(dlg->m_lastImageLock);
    if (dlg->m_pLastImage)
        std::memcpy(dlg->m_pLastImage.get(), image, kImageBytes);
}

void CmfcVELKDlg::OnTimer(int id) {
    switch (id) {
        case IDT_HANDSHAKE_TIMEOUT:
            OnHandshakeTimeout();
            break;
        default:
            break;
    }
}
