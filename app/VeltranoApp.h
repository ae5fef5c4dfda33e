// CVeltranoApp: the one application object. InitInstance runs the main dialog
// modally as the main window; when the dialog ends, the process ends.
#pragma once

#include <wx/app.h>

#include "platform/Win32.h"

class CVeltranoApp : public wxApp {
 public:
  CVeltranoApp();

  // Runs InitInstance. wx treats a false result from OnInit as a failed
  // start (exit status -1); here FALSE from InitInstance means "no message
  // loop", so OnRun skips the loop and the process ends normally.
  bool OnInit() override;
  int OnRun() override;

  virtual BOOL InitInstance();

 private:
  bool m_bRunMessageLoop = false;
};

wxDECLARE_APP(CVeltranoApp);
