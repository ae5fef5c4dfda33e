// CAboutDlg: the About box (template 100). It has no data of its own; OK,
// Enter, Esc and its close box all end it.
#pragma once

#include <wx/dialog.h>

class CAboutDlg : public wxDialog {
 public:
  // Built without a parent: while it is shown modally, wx makes the
  // application's top window, the main dialog, its owner and disables it.
  CAboutDlg();
};
