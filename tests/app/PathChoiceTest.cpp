// The single-file and folder choices, through the chooser seam, and the data
// exchange between edit box 1002 and m_strPath.
#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/dirdlg.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/FolderBrowser.h"
#include "app/Settings.h"
#include "tests/fixtures/TempDir.h"

namespace {

// One press of a chooser button and what its dialog returns (nothing: the
// dialog was cancelled; an empty folder: an item without a file-system path).
struct Step {
  bool file;
  std::optional<std::wstring> chosen;
};
Step File(std::optional<std::wstring> path = std::nullopt) { return {true, std::move(path)}; }
Step Folder(std::optional<std::wstring> path = std::nullopt) { return {false, std::move(path)}; }

// m_strPath, m_strFolder, m_strFileName and the edit box's text.
using State = std::vector<std::wstring>;

State ChooseInOrder(const std::vector<Step>& steps) {
  CTestDlg dlg;
  dlg.Show();
  std::optional<std::wstring> chosen;
  dlg.SetFileChooser([&](wxWindow& owner) -> std::optional<FileChoice> {
    EXPECT_EQ(&owner, &dlg);
    if (chosen) return FileChoiceFromPath(*chosen);
    return std::nullopt;
  });
  dlg.SetFolderChooser([&](wxWindow&) { return chosen; });
  for (const Step& step : steps) {
    chosen = step.chosen;
    ClickButton(dlg, step.file ? 1000 : 1001);
  }
  const auto* edit = static_cast<wxTextCtrl*>(dlg.FindWindow(1002));
  const State s{dlg.m_strPath, dlg.m_strFolder, dlg.m_strFileName, edit->GetValue().ToStdWstring()};
  dlg.Hide();
  return s;
}

}  // namespace

TEST(PathChoice, ChoicesSetThePathSelectionStateAndTheEditBox) {
  struct Case {
    const char* what;
    std::vector<Step> steps;
    State expected;
  };
  const Case cases[] = {
      {"nothing chosen yet", {}, {L"", L"", L"", L""}},
      {"single file",
       {File(L"/srv/dl/setup.exe")},
       {L"/srv/dl/setup.exe", L"/srv/dl", L"setup.exe", L"/srv/dl/setup.exe"}},
      {"file at the root keeps the separator as its folder",
       {File(L"/setup.exe")},
       {L"/setup.exe", L"/", L"setup.exe", L"/setup.exe"}},
      {"folder: pattern appended, edit shows the folder",
       {Folder(L"/srv/dl")},
       {L"/srv/dl/*", L"/srv/dl", L"", L"/srv/dl"}},
      {"root folder gives two separators", {Folder(L"/")}, {L"//*", L"/", L"", L"/"}},
      {"folder after file empties the file name",
       {File(L"/a/b.exe"), Folder(L"/c")},
       {L"/c/*", L"/c", L"", L"/c"}},
      {"cancelled file dialog keeps the earlier folder",
       {Folder(L"/c"), File()},
       {L"/c/*", L"/c", L"", L"/c"}},
      {"cancelled folder dialog keeps the earlier file",
       {File(L"/a/b.exe"), Folder()},
       {L"/a/b.exe", L"/a", L"b.exe", L"/a/b.exe"}},
      {"folder item without a file-system path changes nothing",
       {File(L"/a/b.exe"), Folder(L"")},
       {L"/a/b.exe", L"/a", L"b.exe", L"/a/b.exe"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseInOrder(c.steps), c.expected) << c.what;
}

TEST(PathChoice, ExitCopiesTheEditBoxBackWithoutLosingTheOriginalText) {
  struct Case {
    std::wstring path;
    std::optional<std::wstring> editTextBeforeExit;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"/srv/\xDCFF.exe", std::nullopt, L"/srv/\xDCFF.exe"},  // shown as U+FFFD, kept as is
      {L"/srv/a.exe", L"/srv/other.exe", L"/srv/other.exe"},   // the box's text wins
  };
  for (const Case& c : cases) {
    CTestDlg dlg;
    dlg.SetFileChooser([&](wxWindow&) { return std::optional(FileChoiceFromPath(c.path)); });
    ModalGuard guard;
    OnEachModal<CTestDlg> chooseThenExit([&](CTestDlg& d) {
      ClickButton(d, 1000);
      if (c.editTextBeforeExit) {
        static_cast<wxTextCtrl*>(d.FindWindow(1002))->ChangeValue(*c.editTextBeforeExit);
      }
      ClickButton(d, 1);
    });
    EXPECT_EQ(dlg.ShowModal(), 1);
    EXPECT_EQ(dlg.m_strPath, c.expected);
  }
}

TEST(PathChoice, RealDialogsAreBuiltAsTheChoicesNeed) {
  CTestDlg dlg;
  const std::unique_ptr<wxFileDialog> file = MakeFileDialog(&dlg, L"/usr");
  EXPECT_EQ(file->GetMessage(), wxString(L"选择待修改时间的文件"));
  EXPECT_EQ(file->GetDirectory(), "/usr");
  EXPECT_EQ(file->GetWildcard(), "*");  // no filter: every file
  EXPECT_TRUE(file->HasFlag(wxFD_OPEN));
  EXPECT_FALSE(file->HasFlag(wxFD_MULTIPLE));
  EXPECT_FALSE(file->HasFlag(wxFD_CHANGE_DIR));  // the log stays where it was

  CFolderBrowser folder(&dlg, L"/usr");
  EXPECT_FALSE(folder.Dialog().HasFlag(wxDD_MULTIPLE));
  EXPECT_FALSE(folder.Dialog().HasFlag(wxDD_CHANGE_DIR));
  EXPECT_TRUE(folder.GetPath().empty());
}

TEST(PathChoice, OptInBoxesAreReadOnChangeTimeAndTheyAndTheChoosersFoldersOutliveARestart) {
  namespace fs = std::filesystem;
  const fs::path store = fs::path(std::getenv("XDG_CONFIG_HOME")) / "veltrano";
  fs::remove_all(store);
  veltrano::fixtures::TempDir temp;
  const fs::path folder = temp / "$HOME %TEMP%";  // kept as text, not expanded
  fs::create_directory(folder);
  const std::wstring home = wxGetHomeDir().ToStdWstring();
  const auto checked = [](CTestDlg& d, int id) {
    return static_cast<wxCheckBox*>(d.FindWindow(id))->GetValue();
  };
  {
    CSettingsStore settings;
    EXPECT_EQ(ChooserStartFolder(kFolderChooserSetting), home);  // the first time
    CTestDlg dlg;
    dlg.Show();
    PumpEvents(100);
    wxUIActionSimulator sim;
    for (int id : {1006, 1007}) {  // as the user ticks them
      sim.MouseMove(dlg.FindWindow(id)->GetScreenRect().GetPosition() + wxPoint(5, 5));
      sim.MouseClick();
      PumpEvents(100);
    }
    EXPECT_TRUE(checked(dlg, 1006) && checked(dlg, 1007));
    EXPECT_FALSE(dlg.m_bIncludeRfc3161 || dlg.m_bRecursive);  // not before 更改时间
    dlg.SetFolderChooser([&](wxWindow&) { return std::optional(folder.wstring()); });
    dlg.SetFileChooser(
        [&](wxWindow&) { return std::optional(FileChoiceFromPath((temp / "a").wstring())); });
    ClickButton(dlg, 1000);
    ClickButton(dlg, 1001);
    ClickButton(dlg, 3);
    EXPECT_TRUE(dlg.m_bIncludeRfc3161 && dlg.m_bRecursive);
    static_cast<wxCheckBox*>(dlg.FindWindow(1006))->SetValue(false);
    ClickButton(dlg, 3);
    EXPECT_FALSE(dlg.m_bIncludeRfc3161);
    RememberChooserFolder(kFileChooserSetting, temp.path().wstring() + L"/\xDCFF");  // not text
    dlg.Hide();
  }
  CSettingsStore settings;  // the next start
  CTestDlg dlg;
  EXPECT_TRUE(checked(dlg, 1006) && checked(dlg, 1007));  // as last ticked
  EXPECT_EQ(ChooserStartFolder(kFolderChooserSetting), folder.wstring());
  EXPECT_EQ(ChooserStartFolder(kFileChooserSetting), temp.path().wstring());
  fs::remove(folder);
  EXPECT_EQ(ChooserStartFolder(kFolderChooserSetting), home);  // gone: home again
}
