#include "app/ResultListCtrl.h"

#ifdef __WXMSW__  // the native list view takes messages that wx does not send
#include <wx/msw/wrapwin.h>
#endif

#include <algorithm>
#include <thread>

#include "app/DisplayText.h"
#include "app/TextMeasurer.h"

#ifdef __WXMSW__
namespace {
// List-view messages (commctrl.h, whose LVS_EX_* would clash with ours).
constexpr UINT kLvmGetHeader = 0x101F;                 // LVM_GETHEADER
constexpr UINT kLvmSetExtendedListViewStyle = 0x1036;  // LVM_SETEXTENDEDLISTVIEWSTYLE
}  // namespace
#endif

namespace {
// Slots for the extents remembered during a run.
constexpr std::size_t kRememberedExtents = 1024;
}  // namespace

// ---------------------------------------------------------------------------
// The control

CResultListCtrl::CResultListCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                 const wxSize& size, long style)
    : wxListCtrl(parent, id, pos, size, style | wxLC_VIRTUAL) {}

bool CResultListCtrl::IsCell(int row, int column) const {
  return row >= 0 && row < RowCount() && column >= 0 &&
         static_cast<std::size_t>(column) < m_rows[static_cast<std::size_t>(row)].size();
}

int CResultListCtrl::InsertRow(int index, const wxString& text) {
  const int columns = GetColumnCount();
  if (index < 0 || index > RowCount() || columns == 0) return -1;
  std::vector<wxString> row(static_cast<std::size_t>(columns));
  row[0] = text;
  m_rows.insert(m_rows.begin() + index, std::move(row));
  // The control lays its rows out again, and draws them, when it next may.
  SetItemCount(RowCount());
  wxListEvent inserted(wxEVT_LIST_INSERT_ITEM, GetId());
  inserted.SetEventObject(this);
  inserted.m_itemIndex = index;
  GetEventHandler()->ProcessEvent(inserted);
  return index;
}

void CResultListCtrl::SetCell(int row, int column, const wxString& text) {
  if (!IsCell(row, column)) return;
  m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
  RefreshItem(row);
}

const wxString& CResultListCtrl::Cell(int row, int column) const {
  static const wxString none;
  return IsCell(row, column)
             ? m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)]
             : none;
}

void CResultListCtrl::DeleteAllRows() {
  m_rows.clear();
  DeleteAllItems();
}

void CResultListCtrl::InsertCellColumn(int column) {
  for (auto& row : m_rows) {
    const std::size_t at = std::min(static_cast<std::size_t>(std::max(column, 0)), row.size());
    row.insert(row.begin() + static_cast<std::ptrdiff_t>(at), wxString());
  }
}

wxString CResultListCtrl::OnGetItemText(long item, long column) const {
  return Cell(static_cast<int>(item), static_cast<int>(column));
}

// ---------------------------------------------------------------------------
// The surface

CResultListCtrlView::CResultListCtrlView(CResultListCtrl& list) : m_list(list) {}

CResultListCtrlView::~CResultListCtrlView() = default;

void CResultListCtrlView::BeginRun() {
  m_bRunning = true;
#ifndef __WXMSW__  // the native list is measured in its own controls' DCs (MeasureInContext)
  m_runMeasurer = std::make_unique<CTextMeasurer>(m_list);
  // A second thread only pays where a second processor can run it.
  if (m_bMeasuringThread && std::thread::hardware_concurrency() > 1)
    m_runMeasurer->StartPreparing();
#endif
  m_lastPrepared.assign(static_cast<std::size_t>(m_list.GetColumnCount()), wxString());
}

void CResultListCtrlView::EndRun() {
  m_bRunning = false;
  m_bColumnsFrozen = false;
  m_runMeasurer.reset();  // stops its thread, if any
  m_runExtents.clear();
}

void CResultListCtrlView::PrepareCell(int row, int column) {
  if (!m_runMeasurer || !m_runMeasurer->Prepares() || !IsColumn(column)) return;
  const wxString& text = m_list.Cell(row, column);
  wxString& last = m_lastPrepared[static_cast<std::size_t>(column)];
  if (text.empty() || text == last) return;
  last = text;
  m_runMeasurer->Prepare(text);
}

std::size_t CResultListCtrlView::PreparedBacklog() {
  return m_runMeasurer ? m_runMeasurer->PreparedBacklog() : 0;
}

void CResultListCtrlView::CollectPrepared() {
  if (!m_runMeasurer) return;
  m_runMeasurer->CollectPrepared();
  std::fill(m_lastPrepared.begin(), m_lastPrepared.end(), wxString());
}

void CResultListCtrlView::SetExtendedStyle(DWORD styles) {
  m_dwExtendedStyle = styles;
#ifdef __WXMSW__
  // The native list draws gridlines and full-row selection itself; mask 0
  // makes these exactly the control's extended styles.
  ::SendMessageW(static_cast<HWND>(m_list.GetHandle()), kLvmSetExtendedListViewStyle, 0,
                 static_cast<LPARAM>(styles));
#else
  // wx's own report list always selects whole rows; gridlines are its
  // horizontal and vertical rules.
  long flags = m_list.GetWindowStyleFlag();
  if (styles & LVS_EX_GRIDLINES) {
    flags |= wxLC_HRULES | wxLC_VRULES;
  } else {
    flags &= ~static_cast<long>(wxLC_HRULES | wxLC_VRULES);
  }
  m_list.SetWindowStyleFlag(flags);
#endif
}

void CResultListCtrlView::InsertColumn(int index) {
  const int count = m_list.GetColumnCount();
  index = std::clamp(index, 0, count);
  if (m_list.InsertColumn(index, wxString(), wxLIST_FORMAT_LEFT, 0) < 0) return;
  m_list.InsertCellColumn(index);
  m_rememberedWidths.insert(m_rememberedWidths.begin() + index, 0);
}

int CResultListCtrlView::GetItemCount() { return m_list.RowCount(); }

int CResultListCtrlView::InsertItem(int index, const std::wstring& text) {
  return m_list.InsertRow(index, DisplayText(text));
}

void CResultListCtrlView::SetItemText(int row, int column, const std::wstring& text) {
  m_list.SetCell(row, column, DisplayText(text));
}

std::wstring CResultListCtrlView::GetItemText(int row, int column) {
  return m_list.Cell(row, column).ToStdWstring();
}

void CResultListCtrlView::DeleteAllItems() { m_list.DeleteAllRows(); }

int CResultListCtrlView::GetColumnCount() { return m_list.GetColumnCount(); }

void CResultListCtrlView::WriteColumn(int column, const std::wstring& text, int width) {
  if (m_bColumnsFrozen || !IsColumn(column)) return;
  wxListItem item;
  item.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_FORMAT | wxLIST_MASK_WIDTH);
  item.SetText(DisplayText(text));
  item.SetAlign(wxLIST_FORMAT_LEFT);
  item.SetWidth(DisplayableWidth(width));
  m_list.SetColumn(column, item);
  m_rememberedWidths[static_cast<std::size_t>(column)] = width;
}

void CResultListCtrlView::WriteColumnWidth(int column, int width) {
  if (m_bColumnsFrozen || !IsColumn(column)) return;
  // A width the control already shows is not given again: the control would
  // only lay itself out anew for nothing.
  if (m_list.GetColumnWidth(column) != DisplayableWidth(width))
    m_list.SetColumnWidth(column, DisplayableWidth(width));
  m_rememberedWidths[static_cast<std::size_t>(column)] = width;
}

int CResultListCtrlView::GetRememberedWidth(int column) {
  return IsColumn(column) ? m_rememberedWidths[static_cast<std::size_t>(column)] : 0;
}

int CResultListCtrlView::GetDisplayedWidth(int column) {
  return IsColumn(column) ? m_list.GetColumnWidth(column) : 0;
}

int CResultListCtrlView::GetClientWidth() {
  // The client area excludes the border and, while it is shown, the vertical
  // scroll bar (the native list on Windows; wx's own list on GTK keeps its
  // scroll bars on this outer window too, and its overlay scroll bars, GTK's
  // default, take no room at all). Taken as the list is now, so that a fit
  // counts a scroll bar that came (or went) with the rows: the dialog lays
  // the list out before it fits the rows a run added.
  return m_list.GetClientSize().GetWidth();
}

TextExtent CResultListCtrlView::MeasureText(Surface surface, const std::wstring& text) {
  if (m_bColumnsFrozen) return {};
  if (!m_bRunning) return MeasureInContext(surface, text);
  if (m_runExtents.empty()) m_runExtents.resize(kRememberedExtents);
  RememberedExtent& slot =
      m_runExtents[(std::hash<std::wstring>()(text) + static_cast<std::size_t>(surface)) %
                   kRememberedExtents];
  // The measuring thread's extents come in the order the texts are fitted;
  // the next one is taken whenever it is this text.
  const TextExtent* prepared = m_runMeasurer ? m_runMeasurer->TakePrepared(text) : nullptr;
  if (prepared || !slot.used || slot.surface != surface || slot.text != text) {
    slot.extent = prepared ? *prepared : MeasureInContext(surface, text);
    slot.used = true;
    slot.surface = surface;
    slot.text = text;
  }
  return slot.extent;
}

TextExtent CResultListCtrlView::MeasureInContext(Surface surface, const std::wstring& text) {
#ifdef __WXMSW__
  // A device context of the header or of the list itself, in the font that
  // control draws with. (A fresh context's own font is the stock system
  // font, which need not be the one drawn: measured in it, the Chinese
  // headers came out narrower than drawn and were cut short.)
  HWND hwnd = static_cast<HWND>(m_list.GetHandle());
  if (surface == Surface::Header) {
    hwnd = reinterpret_cast<HWND>(::SendMessageW(hwnd, kLvmGetHeader, 0, 0));
  }
  TextExtent extent;
  if (HDC dc = ::GetDC(hwnd)) {
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = font != nullptr ? ::SelectObject(dc, font) : nullptr;
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (previous != nullptr) ::SelectObject(dc, previous);
    ::ReleaseDC(hwnd, dc);
    // The native header and list pad their text by three edges on each side
    // (12 px at 96 dpi), more than the 10 px the column rule adds: the
    // excess counts as part of the text, or every fitted column would end
    // in "...".
    const int padding = 6 * ::GetSystemMetrics(SM_CXEDGE);
    extent.cx = size.cx + std::max(0, padding - 10);
    extent.cy = size.cy;
  }
  return extent;
#else
  // wx's own report list draws its header inside the list control, with no
  // window of its own to open a device context on: both surfaces measure in a
  // client DC of the list control, whose font is the default GUI font (a
  // fresh one, or the measurer kept for the run).
  (void)surface;
  if (m_runMeasurer) return m_runMeasurer->Measure(DisplayText(text));
  return CTextMeasurer(m_list).Measure(DisplayText(text));
#endif
}

bool CResultListCtrlView::IsColumn(int column) {
  return column >= 0 && column < m_list.GetColumnCount() &&
         static_cast<std::size_t>(column) < m_rememberedWidths.size();
}
