#include "app/AboutDlg.h"

#include "app/AppIcons.h"
#include "app/DialogTemplates.h"

// Caption, system menu and a fixed frame (DS_MODALFRAME): no resizing.
CAboutDlg::CAboutDlg()
    : wxDialog(nullptr, IDD_ABOUTBOX, kAboutDialogTemplate.title, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  CreateTemplateControls(*this, kAboutDialogTemplate, LoadAppIcons());
  // OK is both the affirmative and the cancel command.
  SetAffirmativeId(IDC_ABOUT_OK);
  SetEscapeId(IDC_ABOUT_OK);
  Centre();
}
