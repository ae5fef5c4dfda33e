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
#include <system_error>
#include <thread>

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

// The cairo context wx measures in for `dc`; null if it has none.
cairo_t* NativeContext(wxDC& dc) {
  wxGraphicsContext* gc = dc.GetGraphicsContext();
  return gc ? static_cast<cairo_t*>(gc->GetNativeContext()) : nullptr;
}

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
  cairo_t* cr = NativeContext(dc);
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

// As wx measures: no size for an empty text (or one without a UTF-8 form),
// else the layout's size in whole pixels.
TextExtent MeasureInLayout(PangoLayout* layout, const char* utf8, std::size_t length) {
  if (length == 0) return {};
  pango_layout_set_text(layout, utf8, static_cast<int>(length));
  TextExtent extent;
  pango_layout_get_pixel_size(layout, &extent.cx, &extent.cy);
  return extent;
}

// Everything that decides a text's size in a layout that
// pango_cairo_create_layout made, as plain copies: what another thread needs
// to build, from a font map of its own, a layout that measures the same.
struct PangoLayoutSetup {
  std::shared_ptr<PangoFontDescription> font;         // the layout's
  std::shared_ptr<PangoFontDescription> contextFont;  // the context's defaults
  // The target surface's font options (hinting, antialiasing, ...) merged
  // with the cairo context's, as Pango merges them for the layout.
  std::shared_ptr<cairo_font_options_t> fontOptions;
  cairo_font_type_t fontType = CAIRO_FONT_TYPE_FT;
  double mapResolution = 96;
  double contextResolution = -1;
  PangoMatrix matrix = PANGO_MATRIX_INIT;
  PangoLanguage* language = nullptr;  // interned by Pango, valid on every thread
  PangoDirection baseDir = PANGO_DIRECTION_WEAK_LTR;
  PangoGravity baseGravity = PANGO_GRAVITY_SOUTH;
  PangoGravityHint gravityHint = PANGO_GRAVITY_HINT_NATURAL;
  gboolean roundGlyphPositions = TRUE;
};

std::shared_ptr<PangoFontDescription> CopyOf(const PangoFontDescription* font) {
  if (!font) return nullptr;
  return {pango_font_description_copy(font), pango_font_description_free};
}

// Copies the setup of `layout`, made on `cr`; null for a layout whose font
// map is not one of Pango's cairo font maps.
std::shared_ptr<const PangoLayoutSetup> CopySetup(PangoLayout* layout, cairo_t* cr) {
  PangoContext* context = pango_layout_get_context(layout);
  PangoFontMap* map = pango_context_get_font_map(context);
  if (!PANGO_IS_CAIRO_FONT_MAP(map)) return nullptr;
  auto setup = std::make_shared<PangoLayoutSetup>();
  setup->font = CopyOf(pango_layout_get_font_description(layout));
  setup->contextFont = CopyOf(pango_context_get_font_description(context));
  setup->fontOptions.reset(cairo_font_options_create(), cairo_font_options_destroy);
  cairo_font_options_t* surfaceOptions = cairo_font_options_create();
  cairo_surface_get_font_options(cairo_get_target(cr), surfaceOptions);
  cairo_font_options_merge(setup->fontOptions.get(), surfaceOptions);
  cairo_font_options_destroy(surfaceOptions);
  if (const cairo_font_options_t* set = pango_cairo_context_get_font_options(context))
    cairo_font_options_merge(setup->fontOptions.get(), set);
  setup->fontType = pango_cairo_font_map_get_font_type(PANGO_CAIRO_FONT_MAP(map));
  setup->mapResolution = pango_cairo_font_map_get_resolution(PANGO_CAIRO_FONT_MAP(map));
  setup->contextResolution = pango_cairo_context_get_resolution(context);
  if (const PangoMatrix* matrix = pango_context_get_matrix(context)) setup->matrix = *matrix;
  setup->language = pango_context_get_language(context);
  setup->baseDir = pango_context_get_base_dir(context);
  setup->baseGravity = pango_context_get_base_gravity(context);
  setup->gravityHint = pango_context_get_gravity_hint(context);
  setup->roundGlyphPositions = pango_context_get_round_glyph_positions(context);
  return setup;
}

// On the measuring thread: a font map, context and layout of its own, set up
// as copied, and a function that measures in them (and owns them).
CTextMeasuringThread::Measure MakeMeasure(const PangoLayoutSetup& setup) {
  PangoFontMap* map = pango_cairo_font_map_new_for_font_type(setup.fontType);
  if (!map) return {};
  pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(map), setup.mapResolution);
  PangoContext* context = pango_font_map_create_context(map);
  g_object_unref(map);  // the context holds it
  pango_cairo_context_set_font_options(context, setup.fontOptions.get());
  pango_cairo_context_set_resolution(context, setup.contextResolution);
  pango_context_set_matrix(context, &setup.matrix);
  pango_context_set_language(context, setup.language);
  pango_context_set_base_dir(context, setup.baseDir);
  pango_context_set_base_gravity(context, setup.baseGravity);
  pango_context_set_gravity_hint(context, setup.gravityHint);
  pango_context_set_round_glyph_positions(context, setup.roundGlyphPositions);
  if (setup.contextFont) pango_context_set_font_description(context, setup.contextFont.get());
  std::shared_ptr<PangoLayout> layout(pango_layout_new(context), g_object_unref);
  g_object_unref(context);  // the layout holds it
  if (setup.font) pango_layout_set_font_description(layout.get(), setup.font.get());
  return [layout](const std::string& utf8) {
    return MeasureInLayout(layout.get(), utf8.data(), utf8.size());
  };
}

// Measured by both threads before the run's texts: Latin, digits, CJK (a
// fallback font), right-to-left and combining scripts, an emoji.
constexpr char kProbe[] =
    "Setup-0123.exe 2021/03/01 08:00:00 \xE8\xAF\xB4\xE6\x98\x8E "
    "\xD9\x85\xD9\x84\xD9\x81 \xE0\xB9\x84\xE0\xB8\x9F\xE0\xB8\xA5\xE0\xB9\x8C "
    "\xF0\x9F\x98\x80";

}  // namespace
#endif

CTextMeasurer::CTextMeasurer(wxWindow& window) : m_dc(&window) {
#ifdef __WXGTK3__
  m_pLayout = MakeMeasuringLayout(m_dc);
#endif
}

CTextMeasurer::~CTextMeasurer() {
  m_pPreparing.reset();  // the thread ends before the layout it copied goes
#ifdef __WXGTK3__
  if (m_pLayout) g_object_unref(m_pLayout);
#endif
}

TextExtent CTextMeasurer::Measure(const wxString& text) {
#ifdef __WXGTK3__
  if (m_pLayout) {
    if (text.empty()) return {};
    const wxCharBuffer utf8 = text.utf8_str();
    if (!utf8) return {};
    return MeasureInLayout(m_pLayout, utf8.data(), utf8.length());
  }
#endif
  wxCoord width = 0;
  wxCoord height = 0;
  m_dc.GetTextExtent(text, &width, &height);
  return TextExtent{width, height};
}

bool CTextMeasurer::StartPreparing() {
#ifdef __WXGTK3__  // Pango measures on any thread in objects of its own; the DCs of the others do
                   // not
  if (m_pPreparing || !m_pLayout) return m_pPreparing != nullptr;
  const std::shared_ptr<const PangoLayoutSetup> setup = CopySetup(m_pLayout, NativeContext(m_dc));
  if (!setup) return false;
  try {
    m_pPreparing = std::make_unique<CTextMeasuringThread>(
        [setup] { return MakeMeasure(*setup); }, kProbe,
        MeasureInLayout(m_pLayout, kProbe, sizeof kProbe - 1));
  } catch (const std::system_error&) {  // no thread to be had
    return false;
  }
  return true;
#else
  return false;
#endif
}

void CTextMeasurer::Prepare(const wxString& text) {
  if (m_pPreparing) m_pPreparing->Add(text.ToStdWstring(), text.utf8_string());
}

std::size_t CTextMeasurer::PreparedBacklog() { return m_pPreparing ? m_pPreparing->Backlog() : 0; }

void CTextMeasurer::CollectPrepared() {
  m_nextPrepared = 0;
  if (m_pPreparing && !m_pPreparing->Collect(m_prepared)) m_pPreparing.reset();
}

const TextExtent* CTextMeasurer::TakePrepared(const std::wstring& text) {
  if (m_nextPrepared == m_prepared.size() || m_prepared[m_nextPrepared].key != text) return nullptr;
  return &m_prepared[m_nextPrepared++].extent;
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
