#include "run/MemoryListView.h"

#include <algorithm>

namespace {

// Characters a CJK user-interface font draws at full width.
bool IsWide(wchar_t c) {
  const auto cp = static_cast<unsigned long>(c);
  if (cp < 0x1100) return false;
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

}  // namespace

TextExtent CMemoryListView::FixedPitchMeasure(Surface, const std::wstring& text) {
  long cx = 0;
  for (wchar_t c : text) cx += IsWide(c) ? 16 : 8;
  return TextExtent{static_cast<int>(std::min<long>(cx, 1L << 30)), 16};
}

CMemoryListView::CMemoryListView(int clientWidth, Measure measure)
    : m_clientWidth(clientWidth), m_measure(std::move(measure)) {}

bool CMemoryListView::HasColumn(int column) const {
  return column >= 0 && column < static_cast<int>(m_columns.size());
}

bool CMemoryListView::HasCell(int row, int column) const {
  return row >= m_dropped && row - m_dropped < static_cast<int>(m_rows.size()) && HasColumn(column);
}

void CMemoryListView::DropRows() {
  m_dropped += static_cast<int>(m_rows.size());
  for (auto& row : m_rows) m_spareRows.push_back(std::move(row));
  m_rows.clear();
}

void CMemoryListView::DeleteAllItems() {
  m_rows.clear();
  m_dropped = 0;
}

void CMemoryListView::DragDivider(int column, int width) {
  if (HasColumn(column)) m_columns[static_cast<std::size_t>(column)].displayed = width;
}

std::wstring CMemoryListView::ColumnText(int column) const {
  return HasColumn(column) ? m_columns[static_cast<std::size_t>(column)].text : std::wstring();
}

void CMemoryListView::InsertColumn(int index) {
  const std::size_t at = std::min(static_cast<std::size_t>(std::max(index, 0)), m_columns.size());
  m_columns.insert(m_columns.begin() + static_cast<std::ptrdiff_t>(at), Column{});
  for (auto& row : m_rows) row.insert(row.begin() + static_cast<std::ptrdiff_t>(at), L"");
}

int CMemoryListView::InsertItem(int index, const std::wstring& text) {
  if (m_refuseInsert || index < 0) return -1;
  const std::size_t at =
      std::min(static_cast<std::size_t>(std::max(index - m_dropped, 0)), m_rows.size());
  std::vector<std::wstring> row;
  if (!m_spareRows.empty()) {
    row = std::move(m_spareRows.back());
    m_spareRows.pop_back();
    for (std::wstring& cell : row) cell.clear();
  }
  row.resize(std::max<std::size_t>(m_columns.size(), 1));
  row[0] = text;
  m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
  return m_dropped + static_cast<int>(at);
}

void CMemoryListView::SetItemText(int row, int column, const std::wstring& text) {
  if (HasCell(row, column)) Row(row)[static_cast<std::size_t>(column)] = text;
}

std::wstring CMemoryListView::GetItemText(int row, int column) {
  if (!HasCell(row, column)) return std::wstring();
  return Row(row)[static_cast<std::size_t>(column)];
}

void CMemoryListView::WriteColumn(int column, const std::wstring& text, int width) {
  if (!HasColumn(column)) return;
  m_columns[static_cast<std::size_t>(column)] = Column{text, width, width};
}

void CMemoryListView::WriteColumnWidth(int column, int width) {
  if (!HasColumn(column)) return;
  m_columns[static_cast<std::size_t>(column)].displayed = width;
  m_columns[static_cast<std::size_t>(column)].remembered = width;
}

int CMemoryListView::GetRememberedWidth(int column) {
  return HasColumn(column) ? m_columns[static_cast<std::size_t>(column)].remembered : 0;
}

int CMemoryListView::GetDisplayedWidth(int column) {
  return HasColumn(column) ? m_columns[static_cast<std::size_t>(column)].displayed : 0;
}

TextExtent CMemoryListView::MeasureText(Surface surface, const std::wstring& text) {
  return m_measure ? m_measure(surface, text) : TextExtent{};
}

TextExtent CMemoryListView::MeasureItemText(Surface surface, int row, int column) {
  if (!HasCell(row, column)) return MeasureText(surface, std::wstring());
  return MeasureText(surface, Row(row)[static_cast<std::size_t>(column)]);
}
