// Commands to the module: the command list. Placeholder until the device link lands.
#include "app/mfc_velk_dlg.h"

void CmfcVELKDlg::LoadCommandList() {}
