// The settings the dialog remembers across starts: its two opt-in boxes and
// the folder each chooser last chose. They live in wx's configuration: the
// registry key HKEY_CURRENT_USER\Software\<vendor>\veltrano on Windows, the
// file veltrano/veltrano.conf in the XDG config folder on Linux. Nothing else
// is ever stored.
#pragma once

#include <wx/config.h>

#include <memory>
#include <string>

// Setting names.
inline constexpr wchar_t kIncludeRfc3161Setting[] = L"IncludeRfc3161";
inline constexpr wchar_t kRecursiveSetting[] = L"Recursive";
inline constexpr wchar_t kFileChooserSetting[] = L"FileChooserFolder";
inline constexpr wchar_t kFolderChooserSetting[] = L"FolderChooserFolder";

// Opens the program's settings store and makes it wx's configuration object
// for as long as it lives; afterwards there is none again. Without a store
// (as in most tests) settings read as unset and writes are dropped.
class CSettingsStore {
 public:
  CSettingsStore();
  ~CSettingsStore();
  CSettingsStore(const CSettingsStore&) = delete;
  CSettingsStore& operator=(const CSettingsStore&) = delete;

 private:
  std::unique_ptr<wxConfigBase> m_config;
};

// A check box's remembered state; false when never stored.
bool ReadSetting(const wchar_t* name);
// Stores a check box's state at once (a crash later does not lose it).
void WriteSetting(const wchar_t* name, bool on);

// Where a chooser opens: the folder it remembers when that still is a folder,
// otherwise the home folder (never empty: GTK's choosers would open on
// "Recent", where Open stays disabled).
std::wstring ChooserStartFolder(const wchar_t* name);
// Remembers the folder a chooser's choice was made in. A folder that the
// store cannot hold exactly (on Linux, a name that is not valid text) is not
// remembered; the earlier one stays.
void RememberChooserFolder(const wchar_t* name, const std::wstring& folder);
