#include <gtest/gtest.h>

#include <vector>

#include "tests/run/RunFixture.h"

namespace {

using Surface = IResultListView::Surface;

// Headers measure 10 px per character, cells 7: a swapped device context
// shows up in every width. Every text is 14 px high.
TextExtent Measure(Surface surface, const std::wstring& text) {
  const int perChar = surface == Surface::Header ? 10 : 7;
  return TextExtent{perChar * static_cast<int>(text.size()), 14};
}

class ListWidth : public testing::Test {
 protected:
  explicit ListWidth(int clientWidth = 400) {
    dlg.m_list.SetClientWidth(clientWidth);
    dlg.m_list.SetMeasure(Measure);
    dlg.InitResultList();
  }

  std::vector<int> Widths(int (IResultListView::*width)(int)) {
    std::vector<int> w;
    for (int c = 0; c < 4; ++c) w.push_back((dlg.m_list.*width)(c));
    return w;
  }
  std::vector<int> Remembered() { return Widths(&IResultListView::GetRememberedWidth); }
  std::vector<int> Displayed() { return Widths(&IResultListView::GetDisplayedWidth); }

  // Adds a row the way the run does: cells 1 and 3, fits 0, 1, 3, then cell 2
  // and its fit.
  void AddRow(const std::wstring& name, const std::wstring& folder,
              const std::wstring& newTime = L"-") {
    const int row = dlg.m_list.InsertItem(dlg.m_list.GetItemCount(), name);
    dlg.m_list.SetItemText(row, 1, L"2024/05/21 00:30:05");
    dlg.m_list.SetItemText(row, 3, folder);
    dlg.FitColumnToCell(row, 0);
    dlg.FitColumnToCell(row, 1);
    dlg.FitColumnToCell(row, 3);
    dlg.m_list.SetItemText(row, 2, newTime);
    dlg.FitColumnToCell(row, 2);
  }

  CTestDialog dlg;
};

class NarrowList : public ListWidth {
 protected:
  NarrowList() : ListWidth(100) {}
};

TEST_F(ListWidth, SetUpGivesHeaderWidthsAndFillsTheRestWithTheLastColumn) {
  EXPECT_EQ(dlg.m_list.ExtendedStyle(), 0x21u);
  const std::vector<std::wstring> headers = {L"文件名", L"原时间", L"新时间", L"路径"};
  for (int c = 0; c < 4; ++c) EXPECT_EQ(dlg.m_list.ColumnText(c), headers[static_cast<size_t>(c)]);
  EXPECT_EQ(dlg.m_title, L"更改文件修改时间为数字签名时间戳 V1.0");
  // Three characters: 30 + 10 each; the last fills 400 - 120.
  EXPECT_EQ(Remembered(), (std::vector<int>{40, 40, 40, 280}));
  EXPECT_EQ(Displayed(), Remembered());
}

TEST_F(ListWidth, ColumnsOnlyGrowAcrossRunsAndTheLastTakesWhatIsLeftOrItsText) {
  // 11 characters at 7 px = 77, +10; time text 19 * 7 + 10 = 143.
  AddRow(L"setup64.exe", L"/srv/x");
  // The folder cell (6 * 7 + 10 = 52) is narrower than the 400 - (87 + 143
  // + 40) = 130 left over; the dash (height 14 + 10) keeps the header width.
  EXPECT_EQ(Remembered(), (std::vector<int>{87, 143, 40, 130}));

  // A long name widens column 0; the refit of the last column never narrows
  // it, the fit of the folder cell does.
  AddRow(std::wstring(40, L'n'), L"/srv/x");
  EXPECT_EQ(Remembered(), (std::vector<int>{290, 143, 40, 52}));

  // A new time widens column 2 past the list's edge; the last column stays.
  AddRow(L"a", L"/srv/x", L"2024/05/21 00:30:05");
  EXPECT_EQ(Remembered(), (std::vector<int>{290, 143, 143, 52}));
  EXPECT_EQ(dlg.GetRemainingWidth(), 400 - 290 - 143 - 143);

  // A second run with shorter texts: columns 0 to 2 keep their widths, the
  // last one follows its text (nothing is left over).
  dlg.m_list.DeleteAllItems();
  AddRow(L"a", L"/t");  // folder: 2 * 7 = 14 vs height 14: 24
  EXPECT_EQ(Remembered(), (std::vector<int>{290, 143, 143, 24}));
  EXPECT_EQ(Displayed(), Remembered());
}

TEST_F(NarrowList, NegativeRemainingWidthLeavesTheLastColumnItsMeasuredWidth) {
  // Nothing remains: the last column keeps its header width.
  EXPECT_EQ(dlg.GetRemainingWidth(), -20);
  EXPECT_EQ(Remembered(), (std::vector<int>{40, 40, 40, 30}));

  // Fitted to its cell, the last column may narrow below its header width.
  AddRow(L"a", L"/t");
  dlg.FitLastColumn();
  EXPECT_EQ(Remembered()[3], 24);
}

TEST_F(ListWidth, OutOfRangeIndexesChangeNothing) {
  AddRow(L"file.exe", L"/srv");
  const std::vector<int> before = Remembered();
  for (auto [row, column] : std::vector<std::pair<int, int>>{
           {-1, 0}, {1, 0}, {0, -1}, {0, 4}, {-1, -1}, {INT_MIN, INT_MAX}}) {
    dlg.FitColumnToCell(row, column);
  }
  dlg.SetColumnWidth(-1, 999);
  dlg.SetColumnWidth(4, 999);
  EXPECT_EQ(Remembered(), before);
  EXPECT_EQ(Displayed(), before);
}

TEST_F(ListWidth, ADraggedDividerChangesOnlyTheDisplayedWidthUntilTheNextFit) {
  AddRow(L"file.exe", L"/srv");
  const std::vector<int> programWidths = Remembered();
  const int remaining = dlg.GetRemainingWidth();

  dlg.m_list.DragDivider(0, 5);
  EXPECT_EQ(dlg.m_list.GetDisplayedWidth(0), 5);
  EXPECT_EQ(Remembered(), programWidths);
  EXPECT_EQ(dlg.GetRemainingWidth(), remaining);

  dlg.FitColumnToCell(0, 0);
  EXPECT_EQ(Displayed(), programWidths);
}

}  // namespace
