#include "app/ResultListCtrl.h"

#include <wx/dcclient.h>

#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>
#endif
#ifdef __WXGTK3__
#include <dlfcn.h>
#include <pango/pangocairo.h>
#include <wx/fontutil.h>
#include <wx/graphics.h>
#endif

#include <algorithm>

#include "app/DisplayText.h"

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
// Text measurement

#ifdef __WXGTK3__
namespace {
// wx 3.2 makes a new Pango layout (and context) for every text it measures;
// this makes one the way wx does, to shape many texts in, or returns null.
PangoLayout* MakeMeasuringLayout(wxDC& dc) {
  // wx scales the DC's font by the screen's resolution over 96 dpi, read when
  // the DC is made. GDK comes with wx but its headers do not: look it up.
  using GetScreen = void* (*)();
  using GetResolution = double (*)(void*);
  const auto getScreen = reinterpret_cast<GetScreen>(dlsym(RTLD_DEFAULT, "gdk_screen_get_default"));
  const auto getResolution =
      reinterpret_cast<GetResolution>(dlsym(RTLD_DEFAULT, "gdk_screen_get_resolution"));
  wxGraphicsContext* gc = dc.GetGraphicsContext();
  auto* cr = gc ? static_cast<cairo_t*>(gc->GetNativeContext()) : nullptr;
  const wxFont font = dc.GetFont();
  if (!getScreen || !getResolution || !cr || !font.IsOk()) return nullptr;
  void* screen = getScreen();
  const float scale = screen ? float(getResolution(screen) / 96.0) : 1.0f;
  if (!(scale > 0)) return nullptr;  // no resolution: leave it to the DC
  PangoLayout* layout = pango_cairo_create_layout(cr);
  const wxFont scaled = scale == 1.0f ? font : font.Scaled(scale);
  pango_layout_set_font_description(layout, scaled.GetNativeFontInfo()->description);
  return layout;
}
}  // namespace
#endif

CTextMeasurer::CTextMeasurer(wxWindow& window) : m_dc(&window) {
#ifdef __WXGTK3__
  m_pLayout = MakeMeasuringLayout(m_dc);
#endif
}

CTextMeasurer::~CTextMeasurer() {
#ifdef __WXGTK3__
  if (m_pLayout) g_object_unref(m_pLayout);
#endif
}

TextExtent CTextMeasurer::Measure(const wxString& text) {
#ifdef __WXGTK3__
  if (m_pLayout) {
    // As wx measures: no size for an empty text or one without a UTF-8 form,
    // else the layout's size in whole pixels.
    if (text.empty()) return {};
    const wxCharBuffer utf8 = text.utf8_str();
    if (!utf8) return {};
    pango_layout_set_text(m_pLayout, utf8, static_cast<int>(utf8.length()));
    TextExtent extent;
    pango_layout_get_pixel_size(m_pLayout, &extent.cx, &extent.cy);
    return extent;
  }
#endif
  wxCoord width = 0;
  wxCoord height = 0;
  m_dc.GetTextExtent(text, &width, &height);
  return TextExtent{width, height};
}

// ---------------------------------------------------------------------------
// The surface

CResultListCtrlView::CResultListCtrlView(CResultListCtrl& list) : m_list(list) {}

CResultListCtrlView::~CResultListCtrlView() = default;

void CResultListCtrlView::BeginRun() {
  m_bRunning = true;
  m_runClientWidth = m_list.GetClientSize().GetWidth();
#ifndef __WXMSW__
  m_runMeasurer = std::make_unique<CTextMeasurer>(m_list);
#endif
}

void CResultListCtrlView::EndRun() {
  m_bRunning = false;
  m_bColumnsFrozen = false;
  m_runMeasurer.reset();
  m_runExtents.clear();
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
  // default, take no room at all). A run fits its columns to the width the
  // list had when it started: a scroll bar shown by a paint between entries
  // does not change the widths, which stay what the run alone decides.
  return m_bRunning ? m_runClientWidth : m_list.GetClientSize().GetWidth();
}

TextExtent CResultListCtrlView::MeasureText(Surface surface, const std::wstring& text) {
  if (m_bColumnsFrozen) return {};
  if (!m_bRunning) return MeasureInContext(surface, text);
  if (m_runExtents.empty()) m_runExtents.resize(kRememberedExtents);
  RememberedExtent& slot =
      m_runExtents[(std::hash<std::wstring>()(text) + static_cast<std::size_t>(surface)) %
                   kRememberedExtents];
  if (!slot.used || slot.surface != surface || slot.text != text) {
    slot.extent = MeasureInContext(surface, text);
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
