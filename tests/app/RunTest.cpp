// The change-time command on the real dialog: rows and column widths in the
// wx list, the buttons during a run, the report of a failed time conversion,
// and the list surface's widths.
#include <gtest/gtest.h>
#include <wx/listctrl.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "TestDialogs.h"
#include "run/TimeText.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/support/Inspection.h"

namespace fs = std::filesystem;
namespace fx = veltrano::fixtures;
namespace vt = veltrano::testing;

namespace {

// Writes a small unsigned file into `dir`.
fs::path AddFile(const fx::TempDir& dir, const std::string& name) {
  fx::WriteFile(dir / name, fx::BytesOf("unsigned"));
  return dir / name;
}

int Measured(IResultListView& view, IResultListView::Surface surface, const std::wstring& text) {
  const TextExtent e = view.MeasureText(surface, text);
  return std::max(e.cx, e.cy) + 10;
}

void ChooseFolder(CTestDlg& dlg, const fs::path& folder) {
  dlg.SetFolderChooser([folder](wxWindow&) { return std::optional(folder.wstring()); });
  ClickButton(dlg, 1001);
}

const wchar_t* const kHeaders[] = {L"文件名", L"原时间", L"新时间", L"路径"};

}  // namespace

TEST(DialogRun, RunOverAFolderFillsOneRowPerEntryAndFitsTheColumns) {
  fx::TempDir folder;
  AddFile(folder, "a.bin");
  AddFile(folder, "较长的文件名-0123.dat");
  fs::create_directory(folder.path() / "sub");
  AddFile(folder, std::string("odd-\xFF-name.bin"));

  CTestDlg dlg;
  dlg.Show();
  ChooseFolder(dlg, folder.path());
  ClickButton(dlg, 3);
  PumpEvents();

  IResultListView& view = dlg.View();
  wxListCtrl& list = dlg.ListCtrl();
  ASSERT_EQ(list.GetItemCount(), 4);
  std::set<wxString> names;
  for (int r = 0; r < 4; ++r) {
    names.insert(list.GetItemText(r, 0));
    EXPECT_FALSE(list.GetItemText(r, 1).empty()) << r;
    EXPECT_EQ(list.GetItemText(r, 2), "-") << r;  // nothing here is signed
    EXPECT_EQ(list.GetItemText(r, 3), wxString(folder.path().wstring())) << r;
  }
  const std::set<wxString> expected = {"a.bin", "sub", wxString(L"较长的文件名-0123.dat"),
                                       wxString(L"odd-\uFFFD-name.bin")};
  EXPECT_EQ(names, expected);

  // Columns 0 to 2: the widest of header and cells; displayed as remembered.
  int sum = 0;
  for (int c = 0; c < 3; ++c) {
    int widest = Measured(view, IResultListView::Surface::Header, kHeaders[c]);
    for (int r = 0; r < 4; ++r) {
      widest = std::max(widest, Measured(view, IResultListView::Surface::List,
                                         list.GetItemText(r, c).ToStdWstring()));
    }
    EXPECT_EQ(view.GetRememberedWidth(c), widest) << c;
    EXPECT_EQ(view.GetDisplayedWidth(c), widest) << c;
    sum += widest;
  }
  // The last column reaches the right edge (the folder text is short).
  const int folderWidth = Measured(view, IResultListView::Surface::List, folder.path().wstring());
  const int remaining = view.GetClientWidth() - sum;
  ASSERT_GT(remaining, folderWidth);
  EXPECT_EQ(view.GetRememberedWidth(3), remaining);
  EXPECT_EQ(view.GetDisplayedWidth(3), remaining);

  dlg.Hide();
}

TEST(DialogRun, RunStampsOnlySignedAndTimestampedFilesAndShowsTheirTimes) {
  fx::ScopedTimeZone shanghai("Asia/Shanghai");
  fx::TempDir folder;
  vt::CurrentDirectory logHere(folder.path());  // CertificateLog.log goes here
  fs::create_directory(folder.path() / "in");
  const fs::path signedExe = folder.path() / "in" / "signed.exe";
  const fs::path noTimestamp = folder.path() / "in" / "no-timestamp.exe";
  const fs::path plain = folder.path() / "in" / "plain.txt";
  fx::WriteFile(signedExe, fx::BuildSignedPe());
  fx::SignatureOptions withoutTimestamp;
  withoutTimestamp.counterSignature = false;
  fx::WriteFile(noTimestamp, fx::BuildSignedPe(withoutTimestamp));
  fx::WriteFile(plain, fx::BytesOf("not signed"));
  const std::int64_t before = fx::UtcSeconds(2024, 1, 2, 3, 4, 5);
  for (const fs::path& p : {signedExe, noTimestamp, plain}) {
    ASSERT_TRUE(fx::SetModificationTime(p, before));
  }
  const fx::Bytes signedBytes = fx::ReadFile(signedExe);

  CTestDlg dlg;
  dlg.Show();
  ChooseFolder(dlg, folder.path() / "in");
  ClickButton(dlg, 3);

  wxListCtrl& list = dlg.ListCtrl();
  ASSERT_EQ(list.GetItemCount(), 3);
  std::map<wxString, std::pair<wxString, wxString>> rows;  // name -> old, new
  for (int r = 0; r < 3; ++r)
    rows[list.GetItemText(r, 0)] = {list.GetItemText(r, 1), list.GetItemText(r, 2)};
  const wxString oldText(L"2024/01/02 11:04:05");
  EXPECT_EQ(rows["signed.exe"], std::make_pair(oldText, wxString(L"2019/04/05 14:07:08")));
  EXPECT_EQ(rows["no-timestamp.exe"], std::make_pair(oldText, wxString("-")));
  EXPECT_EQ(rows["plain.txt"], std::make_pair(oldText, wxString("-")));

  const std::int64_t signingSeconds = static_cast<std::int64_t>(
      (fx::kDefaultSigningTimeTicks - 116444736000000000ULL) / 10000000ULL);
  EXPECT_EQ(vt::StampsOf(signedExe).modification.tv_sec, signingSeconds);
  EXPECT_EQ(vt::StampsOf(noTimestamp).modification.tv_sec, before);
  EXPECT_EQ(vt::StampsOf(plain).modification.tv_sec, before);
  EXPECT_EQ(fx::ReadFile(signedExe), signedBytes);  // contents untouched
  EXPECT_TRUE(fs::exists(folder.path() / "CertificateLog.log"));

  // A screenshot of the dialog after the run, kept in the build tree.
  dlg.Raise();
  PumpEvents(300);
  const std::string shot = std::string(VELTRANO_ARTIFACT_DIR) + "/screenshot.png";
  EXPECT_TRUE(SaveWindowPng(dlg, shot));
  EXPECT_GT(fs::file_size(shot), 1000u);
  dlg.Hide();
}

TEST(DialogRun, ActionButtonsAreDisabledDuringTheRunAndEnabledAfterIt) {
  fx::TempDir folder;
  AddFile(folder, "one.bin");
  AddFile(folder, "two.bin");
  CTestDlg dlg;
  dlg.Show();
  ChooseFolder(dlg, folder.path());
  std::vector<std::vector<bool>> duringRun;  // buttons 3, 1000, 1001, 1, 2 as each row came
  dlg.ListCtrl().Bind(wxEVT_LIST_INSERT_ITEM, [&](wxListEvent&) {
    std::vector<bool>& on = duringRun.emplace_back();
    for (int id : {3, 1000, 1001, 1, 2}) on.push_back(dlg.FindWindow(id)->IsEnabled());
  });
  ClickButton(dlg, 3);
  const std::vector<bool> expected = {false, false, false, true, true};
  EXPECT_EQ(duringRun, std::vector<std::vector<bool>>(2, expected));
  for (int id : {3, 1000, 1001}) EXPECT_TRUE(dlg.FindWindow(id)->IsEnabled()) << id;
  dlg.Hide();
}

TEST(DialogRun, FirstFailedTimeConversionIsReportedOnceAfterTheRun) {
  fx::ScopedTimeZone utc("UTC");
  fx::TempDir folder;
  ASSERT_TRUE(fx::SetModificationTime(AddFile(folder, "a-1969.bin"), -100000));  // no time text
  ASSERT_TRUE(fx::SetModificationTime(AddFile(folder, "b-1969.bin"), -200000));
  AddFile(folder, "c-now.bin");

  CTestDlg dlg;
  dlg.Show();
  ChooseFolder(dlg, folder.path());
  ClickButton(dlg, 3);
  EXPECT_EQ(dlg.ListCtrl().GetItemCount(), 3);  // the run went on
  ASSERT_EQ(dlg.m_errors.size(), 1u);
  EXPECT_EQ(dlg.m_errors[0], CTimeTextException(E_INVALIDARG).Message());
  for (int id : {3, 1000, 1001}) EXPECT_TRUE(dlg.FindWindow(id)->IsEnabled()) << id;
  dlg.Hide();
}

TEST(DialogRun, RememberedWidthsStayWhenTheUserDragsADivider) {
  fx::TempDir folder;
  AddFile(folder, "file-with-a-name.bin");
  CTestDlg dlg;
  dlg.Show();
  ChooseFolder(dlg, folder.path());
  ClickButton(dlg, 3);
  IResultListView& view = dlg.View();
  const int remembered0 = view.GetRememberedWidth(0);
  const int remembered3 = view.GetRememberedWidth(3);

  // What dragging the dividers does: only the control's widths change.
  dlg.ListCtrl().SetColumnWidth(0, remembered0 + 80);
  dlg.ListCtrl().SetColumnWidth(3, 20);
  EXPECT_EQ(view.GetDisplayedWidth(0), remembered0 + 80);
  EXPECT_EQ(view.GetRememberedWidth(0), remembered0);
  EXPECT_EQ(view.GetRememberedWidth(3), remembered3);

  // The next run fits from the remembered widths: as if nothing was dragged.
  ClickButton(dlg, 3);
  EXPECT_EQ(view.GetDisplayedWidth(0), remembered0);
  EXPECT_EQ(view.GetDisplayedWidth(3), remembered3);

  // A negative width is remembered as given but shown as 0 (wx would read -1
  // and -2 as "fit to the contents"); columns that do not exist are ignored.
  view.WriteColumnWidth(3, -2);
  EXPECT_EQ(view.GetRememberedWidth(3), -2);
  EXPECT_EQ(view.GetDisplayedWidth(3), 0);
  view.WriteColumnWidth(4, 99);
  EXPECT_EQ(view.GetRememberedWidth(4), 0);
  dlg.Hide();
}

TEST(DialogRun, ClientWidthExcludesBorderAndVerticalScrollBar) {
  CTestDlg dlg;
  dlg.Show();
  IResultListView& view = dlg.View();
  const int empty = view.GetClientWidth();
  EXPECT_GT(empty, 0);
  EXPECT_LE(empty, dlg.ListCtrl().GetSize().GetWidth());  // wx's list on GTK draws no border
  for (int r = 0; r < 60; ++r) view.InsertItem(r, L"row");
  PumpEvents(200);
  EXPECT_LT(view.GetClientWidth(), empty);  // the scroll bar takes its share
  dlg.Hide();
}
