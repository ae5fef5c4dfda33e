// The result list's surface (IResultListView) over a report-view wxListCtrl.
#pragma once

#include <wx/listctrl.h>

#include <vector>

#include "run/ResultListView.h"

class CResultListCtrlView final : public IResultListView {
 public:
  // The control must be in report mode and outlive this view.
  explicit CResultListCtrlView(wxListCtrl& list);

  void SetExtendedStyle(DWORD styles) override;
  DWORD GetExtendedStyle() const { return m_dwExtendedStyle; }
  void InsertColumn(int index) override;

  int GetItemCount() override;
  int InsertItem(int index, const std::wstring& text) override;
  void SetItemText(int row, int column, const std::wstring& text) override;
  std::wstring GetItemText(int row, int column) override;
  void DeleteAllItems() override;

  int GetColumnCount() override;
  void WriteColumn(int column, const std::wstring& text, int width) override;
  void WriteColumnWidth(int column, int width) override;
  int GetRememberedWidth(int column) override;
  int GetDisplayedWidth(int column) override;
  int GetClientWidth() override;

  TextExtent MeasureText(Surface surface, const std::wstring& text) override;

 private:
  bool IsCell(int row, int column);
  bool IsColumn(int column);
  // Widths the control can show: wx reads -1 and -2 as "fit to contents".
  static int DisplayableWidth(int width) { return width < 0 ? 0 : width; }

  wxListCtrl& m_list;
  DWORD m_dwExtendedStyle = 0;
  // The width the program last gave each column. The displayed width lives in
  // the control and follows the user's dragging; this one never does.
  std::vector<int> m_rememberedWidths;
};
