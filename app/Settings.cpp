#include "app/Settings.h"

#include <wx/app.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/utils.h>

#ifdef __WXMSW__
#include <wx/msw/regconf.h>
#else
#include <wx/fileconf.h>
#endif

namespace {

#ifndef __WXMSW__
// $XDG_CONFIG_HOME/veltrano/veltrano.conf, or ~/.config/... where the
// variable is unset, empty or not absolute (as the XDG rules say).
wxFileName SettingsFile() {
  wxString base;
  if (!wxGetEnv(L"XDG_CONFIG_HOME", &base) || !wxIsAbsolutePath(base))
    base = wxGetHomeDir() + L"/.config";
  return wxFileName(base + L"/veltrano", L"veltrano.conf");
}
#endif

// A store that cannot be read or written (a read-only home, a damaged file)
// costs only the remembering: wx's own complaints, which would come up as
// message boxes, are silenced wherever the store is touched.
std::unique_ptr<wxConfigBase> OpenConfig() {
  wxLogNull quiet;
#ifdef __WXMSW__
  // HKCU\Software\<vendor>\veltrano, the vendor being the name the
  // application gives its profile storage.
  return std::make_unique<wxRegConfig>(L"veltrano", wxTheApp ? wxTheApp->GetVendorName() : "");
#else
  return std::make_unique<wxFileConfig>(L"veltrano", wxString(), SettingsFile().GetFullPath(),
                                        wxString(), wxCONFIG_USE_LOCAL_FILE);
#endif
}

// Writes what was changed to the store at once.
void Save(wxConfigBase& config) {
  wxLogNull quiet;
#ifndef __WXMSW__
  // wxFileConfig writes its file through a temporary one in the same folder,
  // which must exist first.
  const wxFileName file = SettingsFile();
  if (!file.DirExists()) file.Mkdir(0700, wxPATH_MKDIR_FULL);
#endif
  config.Flush();
}

bool Storable(const std::wstring& text) {
  if (text.empty()) return false;
  if constexpr (sizeof(wchar_t) == 4) {
    // A lone surrogate stands for a byte that is not UTF-8; the file holds
    // UTF-8 only.
    for (const wchar_t c : text) {
      if (c >= 0xD800 && c <= 0xDFFF) return false;
    }
  }
  return true;
}

wxString HomeFolder() {
#ifdef __WXMSW__
  // The profile folder; HOME may hold a Unix path where one is set (Wine).
  wxString home;
  if (wxGetEnv(L"USERPROFILE", &home) && wxDirExists(home)) return home;
#endif
  return wxGetHomeDir();
}

}  // namespace

CSettingsStore::CSettingsStore() : m_config(OpenConfig()) {
  // Folder names are kept as they are: "$HOME" or "%TEMP%" in one is text.
  m_config->SetExpandEnvVars(false);
  wxConfigBase::Set(m_config.get());
}

CSettingsStore::~CSettingsStore() {
  if (wxConfigBase::Get(false) == m_config.get()) wxConfigBase::Set(nullptr);
}

bool ReadSetting(const wchar_t* name) {
  wxConfigBase* config = wxConfigBase::Get(false);
  return config && config->ReadBool(name, false);
}

void WriteSetting(const wchar_t* name, bool on) {
  if (wxConfigBase* config = wxConfigBase::Get(false)) {
    config->Write(name, on);
    Save(*config);
  }
}

std::wstring ChooserStartFolder(const wchar_t* name) {
  wxString folder;
  wxConfigBase* config = wxConfigBase::Get(false);
  if (config && config->Read(name, &folder) && wxIsAbsolutePath(folder) && wxDirExists(folder))
    return folder.ToStdWstring();
  return HomeFolder().ToStdWstring();
}

void RememberChooserFolder(const wchar_t* name, const std::wstring& folder) {
  wxConfigBase* config = wxConfigBase::Get(false);
  if (!config || !Storable(folder)) return;
  config->Write(name, wxString(folder));
  Save(*config);
}
