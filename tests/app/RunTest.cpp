// The change-time command on the real dialog: stamps, rows and column widths
// in the wx list, the buttons during a run, the report of a failed time
// conversion, and the list surface's widths and text measurement.
#include <gtest/gtest.h>
#include <wx/dcclient.h>
#include <wx/listctrl.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/AboutDlg.h"
#include "app/DisplayText.h"
#include "app/TextMeasurer.h"
#include "app/TextMeasuringThread.h"
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

// The rows of the dialog's list and its columns' remembered and displayed widths.
std::vector<std::vector<wxString>> RowsAndWidths(CTestDlg& dlg) {
  std::vector<std::vector<wxString>> seen;
  for (int r = 0; r < dlg.ListCtrl().GetItemCount(); ++r) {
    seen.emplace_back();
    for (int c = 0; c < 4; ++c) seen.back().push_back(dlg.ListCtrl().GetItemText(r, c));
  }
  for (int c = 0; c < 4; ++c) {
    seen.push_back({wxString::Format("%d %d", dlg.View().GetRememberedWidth(c),
                                     dlg.View().GetDisplayedWidth(c))});
  }
  return seen;
}

wxPoint Inside(wxWindow& dlg, int id) {
  return dlg.FindWindow(id)->GetScreenRect().GetPosition() + wxPoint(5, 5);
}

// Shows the dialog, chooses `folder` through the chooser seam and presses
// "更改时间".
void RunOver(CTestDlg& dlg, const fs::path& folder) {
  dlg.Show();
  dlg.SetFolderChooser([folder](wxWindow&) { return std::optional(folder.wstring()); });
  ClickButton(dlg, 1001);
  ClickButton(dlg, 3);
}

}  // namespace

TEST(DialogRun, RunStampsOnlyTimestampedFilesFillsOneRowPerEntryAndFitsTheColumns) {
  fx::ScopedTimeZone shanghai("Asia/Shanghai");
  fx::TempDir work;
  vt::CurrentDirectory logHere(work.path());  // CertificateLog.log goes here
  fx::TempDir folder;
  const fs::path signedExe = folder / "验证签名.exe";  // the last entry
  const fs::path noTimestamp = folder / "no-timestamp.exe";
  fx::WriteFile(signedExe, fx::BuildSignedPe());
  fx::SignatureOptions withoutTimestamp;
  withoutTimestamp.counterSignature = false;
  fx::WriteFile(noTimestamp, fx::BuildSignedPe(withoutTimestamp));
  const fs::path plain = AddFile(folder, "较长的文件名-0123.dat");
  const fs::path odd = AddFile(folder, "odd-\xFF-name.bin");
  fs::create_directory(folder / "sub");
  const std::int64_t before = fx::UtcSeconds(2024, 1, 2, 3, 4, 5);
  for (const fs::path& p : {signedExe, noTimestamp, plain, odd, folder / "sub"}) {
    ASSERT_TRUE(fx::SetModificationTime(p, before));
  }

  CTestDlg dlg;
  // The action buttons as each row came: 3, 1000 and 1001 off; 1 and 2 on.
  std::vector<std::vector<bool>> duringRun;
  dlg.ListCtrl().Bind(wxEVT_LIST_INSERT_ITEM, [&](wxListEvent&) {
    std::vector<bool>& on = duringRun.emplace_back();
    for (int id : {3, 1000, 1001, 1, 2}) on.push_back(dlg.FindWindow(id)->IsEnabled());
  });
  RunOver(dlg, folder.path());

  EXPECT_EQ(duringRun, std::vector<std::vector<bool>>(5, {false, false, false, true, true}));
  for (int id : {3, 1000, 1001}) EXPECT_TRUE(dlg.FindWindow(id)->IsEnabled()) << id;

  wxListCtrl& list = dlg.ListCtrl();
  std::vector<std::vector<wxString>> rows;
  for (int r = 0; r < list.GetItemCount(); ++r) {
    rows.push_back({});
    for (int c = 0; c < 4; ++c) rows.back().push_back(list.GetItemText(r, c));
  }
  const wxString old(L"2024/01/02 11:04:05");
  const wxString dir(folder.path().wstring());
  EXPECT_EQ(rows, (std::vector<std::vector<wxString>>{
                      {"no-timestamp.exe", old, "-", dir},
                      {wxString(L"odd-\uFFFD-name.bin"), old, "-", dir},
                      {"sub", old, "-", dir},
                      {wxString(L"较长的文件名-0123.dat"), old, "-", dir},
                      {wxString(L"验证签名.exe"), old, wxString(L"2019/04/05 14:07:08"), dir},
                  }));

  // The new time is shown only once the file carries it.
  EXPECT_EQ(vt::StampsOf(signedExe).modification.tv_sec, fx::UtcSeconds(2019, 4, 5, 6, 7, 8));

  // Columns 0 to 2: the widest of header and cells; displayed as remembered.
  IResultListView& view = dlg.View();
  int widths[3] = {};
  int newTimeBeforeLastRow = 0;
  for (int c = 0; c < 3; ++c) {
    int& widest = widths[c] = Measured(view, IResultListView::Surface::Header, kColumnHeaders[c]);
    for (const auto& row : rows) {
      if (c == 2 && &row == &rows.back()) newTimeBeforeLastRow = widest;
      widest = std::max(widest, Measured(view, IResultListView::Surface::List,
                                         row[static_cast<std::size_t>(c)].ToStdWstring()));
    }
    EXPECT_EQ(view.GetRememberedWidth(c), widest) << c;
    EXPECT_EQ(view.GetDisplayedWidth(c), widest) << c;
  }
  // The last column reaches the right edge as it was when the last row's
  // folder was fitted (the folder text is short). That row's new time widens
  // column 2 only afterwards: the columns then reach past the edge.
  ASSERT_LT(newTimeBeforeLastRow, widths[2]);
  const int remaining = view.GetClientWidth() - widths[0] - widths[1] - newTimeBeforeLastRow;
  ASSERT_GT(remaining, Measured(view, IResultListView::Surface::List, folder.path().wstring()));
  EXPECT_EQ(view.GetRememberedWidth(3), remaining);
  EXPECT_EQ(view.GetDisplayedWidth(3), remaining);

  // A screenshot of the dialog after the run, kept in the build tree.
  dlg.Raise();
  PumpEvents(300);
  const std::string shot = std::string(VELTRANO_ARTIFACT_DIR) + "/screenshot.png";
  EXPECT_TRUE(SaveWindowPng(dlg, shot));
  EXPECT_GT(fs::file_size(shot), 1000u);
  dlg.Hide();
}

TEST(DialogRun, FirstFailedTimeConversionIsReportedOnceAfterTheRun) {
  fx::TempDir folder;
  for (const char* name : {"a-1969.bin", "b-1969.bin"}) {  // no time text in any zone
    ASSERT_TRUE(fx::SetModificationTime(AddFile(folder, name), -100000));
  }
  CTestDlg dlg;
  RunOver(dlg, folder.path());
  EXPECT_EQ(dlg.ListCtrl().GetItemCount(), 2);  // the run went on
  EXPECT_EQ(dlg.m_errors, std::vector<std::wstring>{CTimeTextException(E_INVALIDARG).Message()});
  dlg.Hide();
}

TEST(DialogRun, RememberedWidthsStayWhenTheUserDragsADivider) {
  fx::TempDir folder;
  AddFile(folder, "file-with-a-name.bin");
  CTestDlg dlg;
  RunOver(dlg, folder.path());
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

TEST(DialogRun, RunMeasurerGivesTheSizesOfAFreshClientDC) {
  CTestDlg dlg;
  dlg.Show();
  CTextMeasurer measurer(dlg.ListCtrl());
#ifdef __WXGTK3__
  EXPECT_TRUE(measurer.KeepsLayout());
#endif
  // clang-format off
  const std::vector<wxString> texts = {
      L"", L"-", L" ", L"  spaced  ", L"Setup-1234.exe", L"WWWWiiii.dll", L"0123456789",
      L"2021/03/01 08:00:00", L"说明文档-17.txt", L"更改文件修改时间为数字签名时间戳 V1.0",
      L"Ünïcödé-файл-ملف-קובץ-ファイル-ไฟล์.bin", L"e\u0301\u0302a\u0308\u20DD", L"tab\there",
      L"\U0001F600\U0001F44D\U0001F3FD\U0001F468\u200D\U0001F469", L"two\nlines", L"\u200B\uFEFF",
      L"\u202Eexe.txt", DisplayText(L"odd-\xDC80\xDCFF-name.bin"), wxString(5000, L'x'),
      wxString(400, L'说') + L"-\u0627\u0644"};
  // clang-format on
  // The same texts measured on the run's measuring thread, in a font map of
  // its own, give the same sizes.
#ifdef __WXGTK3__
  ASSERT_TRUE(measurer.StartPreparing());
#endif
  for (const wxString& text : texts) measurer.Prepare(text);
  measurer.CollectPrepared();
  EXPECT_EQ(measurer.Prepares(), measurer.KeepsLayout());  // the thread did not fail
  for (const wxString& text : texts) {
    wxCoord width = -1;
    wxCoord height = -1;
    wxClientDC(&dlg.ListCtrl()).GetTextExtent(text, &width, &height);
    const TextExtent extent = measurer.Measure(text);
    EXPECT_EQ(extent.cx, width) << text.utf8_string();
    EXPECT_EQ(extent.cy, height) << text.utf8_string();
    if (!measurer.Prepares()) continue;
    const TextExtent* prepared = measurer.TakePrepared(text.ToStdWstring());
    ASSERT_NE(prepared, nullptr) << text.utf8_string();
    EXPECT_EQ(prepared->cx, width) << text.utf8_string();
    EXPECT_EQ(prepared->cy, height) << text.utf8_string();
  }
  dlg.Hide();
}

TEST(DialogRun, MeasuringThreadGivesTheTextsBackInOrderOrFailsWithoutHanging) {
  using Thread = CTextMeasuringThread;
  const auto bySize = [](const std::string& text) { return TextExtent{int(text.size()), 1}; };
  std::vector<Thread::Text> measured;
  {
    Thread thread([&] { return Thread::Measure(bySize); }, "probe", {5, 1});
    for (int round : {3, 40}) {  // fewer texts than wake the thread, and more
      std::vector<std::wstring> keys;
      for (int i = 0; i < round; ++i) {
        keys.push_back(std::to_wstring(i));
        thread.Add(keys.back(), std::string(static_cast<std::size_t>(i % 7), 'x'));
      }
      EXPECT_EQ(thread.Backlog(), keys.size());
      ASSERT_TRUE(thread.Collect(measured));
      ASSERT_EQ(measured.size(), keys.size());
      for (int i = 0; i < round; ++i) {
        EXPECT_EQ(measured[i].key, keys[i]);
        EXPECT_EQ(measured[i].extent.cx, i % 7);
      }
    }
    thread.Add(L"left", "for the thread to drop when it is stopped");
  }
  // What the caller must then measure for itself: no measuring objects, a
  // probe that measures otherwise, running out of memory mid-run.
  const Thread::MakeMeasure failing[] = {
      [] { return Thread::Measure(); },
      [&] { return Thread::Measure([&](const std::string& t) { return bySize(t + "!"); }); },
      [&] {
        return Thread::Measure([&](const std::string& t) {
          return t == "probe" ? bySize(t) : throw std::bad_alloc();
        });
      },
  };
  for (const Thread::MakeMeasure& make : failing) {
    Thread thread(make, "probe", {5, 1});
    for (int i = 0; i < 40; ++i) thread.Add(L"key", "text");
    measured.assign(1, Thread::Text{});
    EXPECT_FALSE(thread.Collect(measured));
    EXPECT_TRUE(measured.empty());
  }
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

TEST(DialogRun, ListIsPaintedBetweenEntriesWhileInputWaitsAndTheResultsStayTheSame) {
  fx::TempDir folder;  // more rows than the list shows: a scroll bar comes mid-run
  for (int i = 0; i < 12; ++i) AddFile(folder, "entry-" + std::to_string(i) + "-long-name.bin");
  CTestDlg quiet;  // no paint between entries and no measuring thread
  quiet.SetPaintInterval(std::chrono::hours(1));
  quiet.SetMeasuringThread(false);
  RunOver(quiet, folder.path());
  quiet.Hide();

  CTestDlg dlg;
  dlg.SetPaintInterval(std::chrono::milliseconds(0));
  bool inRun = false;
  int inputSeen = 0;
  dlg.Bind(wxEVT_BUTTON, [&](wxCommandEvent& e) { inputSeen += inRun, e.Skip(); });
  dlg.Bind(wxEVT_CHAR_HOOK, [&](wxKeyEvent& e) { inputSeen += inRun, e.Skip(); });
  dlg.Bind(wxEVT_CHECKBOX, [&](wxCommandEvent& e) { inputSeen += inRun, e.Skip(); });
  std::vector<int> rowsWhenPainted;
  for (wxWindow* part : dlg.ListCtrl().GetChildren()) {
    part->Bind(wxEVT_PAINT, [&](wxPaintEvent& e) {
      rowsWhenPainted.push_back(dlg.ListCtrl().GetItemCount());
      e.Skip();
    });
  }
  ModalGuard guard;
  OnEachModal<CAboutDlg> closeAbout([](CAboutDlg& about) { ClickButton(about, 1); });
  wxUIActionSimulator sim;
  // One input per entry, so that each arrives as a user's would (the run
  // handles events between entries).
  const std::function<void()> inputs[] = {
      [&] { sim.MouseMove(Inside(dlg, 1007)); },  // "包括子文件夹"
      [&] { sim.MouseClick(); },
      [&] { sim.MouseMove(Inside(dlg, 1)); },  // Exit
      [&] { sim.MouseClick(); },
      [&] { dlg.Close(); },  // what the close box sends
  };
  dlg.m_betweenEntries = [&] {
    const auto step = static_cast<std::size_t>(dlg.ListCtrl().GetItemCount() - 3);
    inRun = true;
    if (step < std::size(inputs)) inputs[step]();
  };
  RunOver(dlg, folder.path());
  inRun = false;

  EXPECT_EQ(inputSeen, 0);
  EXPECT_EQ(closeAbout.Count(), 0);
  EXPECT_TRUE(std::any_of(rowsWhenPainted.begin(), rowsWhenPainted.end(),
                          [](int rows) { return rows > 0 && rows < 12; }));
  EXPECT_EQ(RowsAndWidths(dlg), RowsAndWidths(quiet));
  // The input waited: once the run is over, Exit ends the dialog (shown
  // modeless here, it hides) and the close request opens About. The box was
  // read when the run began, whatever the click did.
  PumpEvents(300);
  EXPECT_FALSE(dlg.m_bRecursive);
  EXPECT_FALSE(dlg.IsShown());
  EXPECT_EQ(closeAbout.Count(), 1);
  dlg.Show();
  // The last column fills the list as it is: with the scroll bar the rows
  // brought, and without it again after a run of fewer rows.
  auto unfilled = [&dlg] {
    PumpEvents(100);
    int sum = 0;
    for (int c = 0; c < 4; ++c) sum += dlg.View().GetRememberedWidth(c);
    return dlg.ListCtrl().GetClientSize().GetWidth() - sum;
  };
  EXPECT_EQ(unfilled(), 0);
  dlg.m_betweenEntries = nullptr;
  fx::TempDir one;
  AddFile(one, "one");
  RunOver(dlg, one.path());
  EXPECT_EQ(unfilled(), 0);
  dlg.Hide();
}
