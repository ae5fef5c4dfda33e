#include "app/VeltranoApp.h"

#include <wx/config.h>

#include "app/Settings.h"
#include "app/VeltranoDlg.h"

CVeltranoApp::CVeltranoApp() {
  // The restart-manager support flag: wx offers no restart-manager
  // registration and Linux has no restart manager; nothing to set.
  //
  // The only settings are the dialog's (see CSettingsStore), kept while the
  // dialog runs: wx must not create its default configuration object (a
  // file or registry key) behind our back.
  wxConfigBase::DontCreateOnDemand();
}

bool CVeltranoApp::OnInit() {
  m_bRunMessageLoop = InitInstance() != FALSE;
  return true;
}

int CVeltranoApp::OnRun() { return m_bRunMessageLoop ? wxApp::OnRun() : 0; }

BOOL CVeltranoApp::InitInstance() {
  // Common-control initialisation: wxMSW initialises the common controls
  // (list view and header included) itself when it starts; GTK needs none.
  //
  // The framework's base start-up: wxApp::OnInit would only parse a command
  // line, and the program has none; not called.
  //
  // Control containment (ActiveX hosting): not used, nothing to enable.
  //
  // Shell manager: wx's file and folder dialogs talk to the platform's shell
  // themselves; nothing to create.
  //
  // Visual manager: wx draws with the platform's native theme; nothing to
  // select.
  //
  // Profile storage key: the vendor name is what names wx's configuration
  // storage (the registry key on Windows), which holds the dialog's
  // remembered settings.
  SetVendorName(L"应用程序向导生成的本地应用程序");

  CSettingsStore settings;
  CVeltranoDlg dlg;
  SetTopWindow(&dlg);
  dlg.ShowModal();  // IDOK after Exit; the result is not examined
  return FALSE;
}
