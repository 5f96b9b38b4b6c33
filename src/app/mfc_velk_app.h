#pragma once
// CmfcVELKApp: the application object. It builds the main dialog, runs it modally and ends the
// program when the dialog closes. GUI thread only.
#include "app/mfc_velk_dlg.h"

class CmfcVELKApp {
  public:
    explicit CmfcVELKApp(ViewerOptions options) : m_options(std::move(options)) {}

    // Runs the whole program; returns false as there is no message loop after the dialog.
    bool InitInstance();

  private:
    ViewerOptions m_options;
};
