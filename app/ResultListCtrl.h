// The result list: its control and its surface (IResultListView) for the run
// and the column fitting.
#pragma once

#include <wx/listctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "run/ResultListView.h"

class CTextMeasurer;

// The report-view list control of the main dialog. It keeps the rows' texts
// itself and shows them on demand (a virtual list): rows are added and
// changed without the toolkit measuring every cell for an automatic column
// width that nothing here uses, and only the rows in view are drawn. Every
// row inserted is announced with wxEVT_LIST_INSERT_ITEM, as a list that holds
// its items does.
class CResultListCtrl final : public wxListCtrl {
 public:
  // `style` is a report-view style; the control adds wxLC_VIRTUAL.
  CResultListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                  long style);

  int RowCount() const { return static_cast<int>(m_rows.size()); }
  // Inserts a row at `index` (0 to RowCount) with `text` in cell 0 and the
  // other cells empty; returns the index, or -1 for an index out of range or
  // a list without columns.
  int InsertRow(int index, const wxString& text);
  // Sets one cell; a cell that does not exist is ignored.
  void SetCell(int row, int column, const wxString& text);
  // The cell's text; empty for a cell that does not exist.
  const wxString& Cell(int row, int column) const;
  void DeleteAllRows();
  // Adds an empty cell at `column` to every row (a column was inserted there).
  void InsertCellColumn(int column);

 protected:
  wxString OnGetItemText(long item, long column) const override;

 private:
  bool IsCell(int row, int column) const;

  std::vector<std::vector<wxString>> m_rows;
};

class CResultListCtrlView final : public IResultListView {
 public:
  // The control must be in report mode and outlive this view.
  explicit CResultListCtrlView(CResultListCtrl& list);
  ~CResultListCtrlView() override;

  // From BeginRun to EndRun (one change-time run) nothing that decides a
  // measured extent changes: the control and its default font stay. One
  // measurer then serves the whole run and a text measured once is mostly
  // not measured again, which gives the widths a fresh context per text gives.
  void BeginRun();
  void EndRun();
  // While the columns are frozen (during a run, between two fittings of the
  // rows added meanwhile) they keep their widths: a text measures as empty
  // without being shaped and the widths written are dropped.
  void FreezeColumns(bool freeze) { m_bColumnsFrozen = freeze; }
  // Whether runs measure on a thread of their own where the toolkit allows
  // it (GTK 3 on more than one processor; by default they do), the cells handed over with
  // PrepareCell as rows are done; else every text is measured when its column is fitted.
  void SetMeasuringThread(bool use) { m_bMeasuringThread = use; }
  // During a run: hands the cell's text to the measuring thread, if there
  // is one, so that its extent is ready when the cell's column is fitted.
  // The cells are fitted in the order they were handed over (a text that
  // comes out of turn, or was not handed over, is measured when fitted).
  void PrepareCell(int row, int column);
  // Texts handed over and not yet collected (what they hold in memory).
  std::size_t PreparedBacklog();
  // Before fitting: waits until the texts handed over are measured.
  void CollectPrepared();

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
  TextExtent MeasureInContext(Surface surface, const std::wstring& text);
  bool IsColumn(int column);
  // Widths the control can show: wx reads -1 and -2 as "fit to contents".
  static int DisplayableWidth(int width) { return width < 0 ? 0 : width; }

  CResultListCtrl& m_list;
  DWORD m_dwExtendedStyle = 0;
  // The width the program last gave each column. The displayed width lives in
  // the control and follows the user's dragging; this one never does.
  std::vector<int> m_rememberedWidths;
  // During a run: the measurer (where the toolkit has one to keep) and the
  // extents measured so far, one per slot chosen by the text: a text that
  // comes back (the folder, "-", a time many files share) keeps its slot,
  // while texts seen once only take turns in theirs.
  struct RememberedExtent {
    bool used = false;
    Surface surface = Surface::List;
    std::wstring text;
    TextExtent extent;
  };
  bool m_bRunning = false;
  bool m_bColumnsFrozen = false;
  bool m_bMeasuringThread = true;
  std::unique_ptr<CTextMeasurer> m_runMeasurer;
  std::vector<RememberedExtent> m_runExtents;
  // The last text handed over per column since the last collection: the
  // folder and "-" come row after row and are measured once.
  std::vector<wxString> m_lastPrepared;
};
