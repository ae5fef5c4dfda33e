// The single-file and folder choices, through the chooser seam, and the data
// exchange between edit box 1002 and m_strPath.
#include <gtest/gtest.h>
#include <wx/dirdlg.h>
#include <wx/textctrl.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "GuiTestSupport.h"
#include "TestDialogs.h"
#include "app/FolderBrowser.h"

namespace {

struct PickFile {
  std::wstring path;
};
struct PickFolder {
  std::wstring folder;  // empty: an item without a file-system path
};
struct CancelFile {};
struct CancelFolder {};
using Step = std::variant<PickFile, PickFolder, CancelFile, CancelFolder>;

struct State {
  std::wstring path, folder, fileName, shown;
  bool operator==(const State&) const = default;
};

std::ostream& operator<<(std::ostream& os, const State& s) {
  return os << "{" << wxString(s.path) << " | " << wxString(s.folder) << " | "
            << wxString(s.fileName) << " | " << wxString(s.shown) << "}";
}

State ChooseInOrder(const std::vector<Step>& steps) {
  CTestDlg dlg;
  dlg.Show();
  std::optional<Step> next;
  dlg.SetFileChooser([&](wxWindow& owner) -> std::optional<FileChoice> {
    EXPECT_EQ(&owner, &dlg);
    if (auto* pick = std::get_if<PickFile>(&*next)) return FileChoiceFromPath(pick->path);
    return std::nullopt;
  });
  dlg.SetFolderChooser([&](wxWindow&) -> std::optional<std::wstring> {
    if (auto* pick = std::get_if<PickFolder>(&*next)) return pick->folder;
    return std::nullopt;
  });
  for (const Step& step : steps) {
    next = step;
    const bool file =
        std::holds_alternative<PickFile>(step) || std::holds_alternative<CancelFile>(step);
    ClickButton(dlg, file ? 1000 : 1001);
  }
  const auto* edit = static_cast<wxTextCtrl*>(dlg.FindWindow(1002));
  State s{dlg.m_strPath, dlg.m_strFolder, dlg.m_strFileName, edit->GetValue().ToStdWstring()};
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
       {PickFile{L"/srv/dl/setup.exe"}},
       {L"/srv/dl/setup.exe", L"/srv/dl", L"setup.exe", L"/srv/dl/setup.exe"}},
      {"file at the root keeps the separator as its folder",
       {PickFile{L"/setup.exe"}},
       {L"/setup.exe", L"/", L"setup.exe", L"/setup.exe"}},
      {"folder: pattern appended, edit shows the folder",
       {PickFolder{L"/srv/dl"}},
       {L"/srv/dl/*", L"/srv/dl", L"", L"/srv/dl"}},
      {"root folder gives two separators", {PickFolder{L"/"}}, {L"//*", L"/", L"", L"/"}},
      {"folder after file empties the file name",
       {PickFile{L"/a/b.exe"}, PickFolder{L"/c"}},
       {L"/c/*", L"/c", L"", L"/c"}},
      {"file after folder sets it again",
       {PickFolder{L"/c"}, PickFile{L"/a/b.exe"}},
       {L"/a/b.exe", L"/a", L"b.exe", L"/a/b.exe"}},
      {"cancelled file dialog keeps the earlier folder",
       {PickFolder{L"/c"}, CancelFile{}},
       {L"/c/*", L"/c", L"", L"/c"}},
      {"cancelled folder dialog keeps the earlier file",
       {PickFile{L"/a/b.exe"}, CancelFolder{}},
       {L"/a/b.exe", L"/a", L"b.exe", L"/a/b.exe"}},
      {"folder item without a file-system path changes nothing",
       {PickFile{L"/a/b.exe"}, PickFolder{L""}},
       {L"/a/b.exe", L"/a", L"b.exe", L"/a/b.exe"}},
      {"...also as the first choice", {PickFolder{L""}}, {L"", L"", L"", L""}},
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
  const std::unique_ptr<wxFileDialog> file = MakeFileDialog(&dlg);
  EXPECT_EQ(file->GetMessage(), wxString(L"选择待修改时间的文件"));
  EXPECT_EQ(file->GetWildcard(), "*");  // no filter: every file
  EXPECT_TRUE(file->HasFlag(wxFD_OPEN));
  EXPECT_FALSE(file->HasFlag(wxFD_MULTIPLE));
  EXPECT_FALSE(file->HasFlag(wxFD_CHANGE_DIR));  // the log stays where it was

  CFolderBrowser folder(&dlg);
  EXPECT_FALSE(folder.Dialog().HasFlag(wxDD_MULTIPLE));
  EXPECT_FALSE(folder.Dialog().HasFlag(wxDD_CHANGE_DIR));
  EXPECT_TRUE(folder.GetPath().empty());
}
