#include "app/FolderBrowser.h"

// The browser's caption is the platform's own ("浏览文件夹" on a Chinese
// Windows); the program adds no instructions and no flags.
CFolderBrowser::CFolderBrowser(wxWindow* owner, const std::wstring& startFolder)
    : m_dialog(owner, L"浏览文件夹", startFolder, wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST) {
  m_strFolderPath.reserve(260);
}

bool CFolderBrowser::Browse() {
  if (m_dialog.ShowModal() != wxID_OK) return false;
  // Empty for an item outside the file system (a network place, say).
  m_strFolderPath = m_dialog.GetPath().ToStdWstring();
  return true;
}
