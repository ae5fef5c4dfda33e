// An in-memory result list: the rows, the columns' texts and widths, and a
// replaceable text measure. The headless command and the tests use it where
// the dialog uses the toolkit's list control.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "run/ResultListView.h"

class CMemoryListView final : public IResultListView {
 public:
  using Measure = std::function<TextExtent(Surface, const std::wstring&)>;

  // Every code point is 8 pixels wide, CJK and other wide characters 16, and
  // every text 16 pixels high: deterministic, close to a 9-point UI font.
  static TextExtent FixedPitchMeasure(Surface surface, const std::wstring& text);

  explicit CMemoryListView(int clientWidth = 600, Measure measure = FixedPitchMeasure);

  // Test controls: the list's client width, the measure, a divider dragged
  // by the user (displayed width only), and rows that refuse to be inserted.
  void SetClientWidth(int width) { m_clientWidth = width; }
  void SetMeasure(Measure measure) { m_measure = std::move(measure); }
  void DragDivider(int column, int width);
  void SetRefuseInsert(bool refuse) { m_refuseInsert = refuse; }

  // What was set up.
  DWORD ExtendedStyle() const { return m_extendedStyle; }
  std::wstring ColumnText(int column) const;
  // The rows since the last DropRows.
  const std::vector<std::vector<std::wstring>>& Rows() const { return m_rows; }
  // Forgets the rows so far; they still count, and later rows keep their
  // indexes. A list that is shown row by row (the headless command) stays
  // small however many rows it has had, and its rows' storage serves the
  // rows that follow.
  void DropRows();

  void SetExtendedStyle(DWORD styles) override { m_extendedStyle = styles; }
  void InsertColumn(int index) override;
  int GetItemCount() override { return m_dropped + static_cast<int>(m_rows.size()); }
  int InsertItem(int index, const std::wstring& text) override;
  void SetItemText(int row, int column, const std::wstring& text) override;
  std::wstring GetItemText(int row, int column) override;
  void DeleteAllItems() override;
  int GetColumnCount() override { return static_cast<int>(m_columns.size()); }
  void WriteColumn(int column, const std::wstring& text, int width) override;
  void WriteColumnWidth(int column, int width) override;
  int GetRememberedWidth(int column) override;
  int GetDisplayedWidth(int column) override;
  int GetClientWidth() override { return m_clientWidth; }
  TextExtent MeasureText(Surface surface, const std::wstring& text) override;
  TextExtent MeasureItemText(Surface surface, int row, int column) override;

 private:
  struct Column {
    std::wstring text;
    int displayed = 0;
    int remembered = 0;
  };
  bool HasColumn(int column) const;
  bool HasCell(int row, int column) const;
  std::vector<std::wstring>& Row(int row) {
    return m_rows[static_cast<std::size_t>(row - m_dropped)];
  }

  int m_clientWidth;
  Measure m_measure;
  DWORD m_extendedStyle = 0;
  bool m_refuseInsert = false;
  int m_dropped = 0;
  std::vector<Column> m_columns;
  std::vector<std::vector<std::wstring>> m_rows;
  std::vector<std::vector<std::wstring>> m_spareRows;  // dropped, for reuse
};
