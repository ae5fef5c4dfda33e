// CFolderBrowser: the folder dialog of one folder choice. It lives on the
// stack of that choice and owns the dialog.
#pragma once

#include <wx/dirdlg.h>

#include <string>

class CFolderBrowser {
 public:
  // Builds the dialog with `owner` as its parent, opening in `startFolder`. (No thread set-up is
  // needed: wxMSW initialises OLE for the UI thread at start-up, GTK has no
  // such step.)
  CFolderBrowser(wxWindow* owner, const std::wstring& startFolder);

  CFolderBrowser(const CFolderBrowser&) = delete;
  CFolderBrowser& operator=(const CFolderBrowser&) = delete;

  // Shows the dialog. False when the user cancelled. After true, GetPath is
  // the chosen folder's file-system path, or empty when the chosen item has
  // none.
  bool Browse();
  const std::wstring& GetPath() const { return m_strFolderPath; }

  wxDirDialog& Dialog() { return m_dialog; }

 private:
  wxDirDialog m_dialog;
  std::wstring m_strFolderPath;
};
