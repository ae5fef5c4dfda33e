#include "app/TextMeasurer.h"

#ifdef __WXGTK3__  // wx draws text with Pango there; the measurer shapes in Pango itself
#include <dlfcn.h>
#include <pango/pangocairo.h>
#include <wx/fontutil.h>
#include <wx/graphics.h>
#endif

#include <system_error>

#ifdef __WXGTK3__  // wx measures with Pango here: a layout kept for many texts shapes as wx does
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

// As wx measures a wxString: no size for an empty text or one without a
// UTF-8 form.
TextExtent MeasureInLayout(PangoLayout* layout, const wxString& text) {
  if (text.empty()) return {};
  const wxCharBuffer utf8 = text.utf8_str();
  if (!utf8) return {};
  return MeasureInLayout(layout, utf8.data(), utf8.length());
}

void FreeLayout(PangoLayout* layout) {
  if (layout) g_object_unref(layout);
}

// A thread that measures as `layout`, made on `dc`, does (Pango measures on
// any thread in objects of its own); null when none can start.
std::unique_ptr<CTextMeasuringThread> StartMeasuringThread(PangoLayout* layout, wxDC& dc) {
  const std::shared_ptr<const PangoLayoutSetup> setup = CopySetup(layout, NativeContext(dc));
  if (!setup) return nullptr;
  try {
    return std::make_unique<CTextMeasuringThread>(
        [setup] { return MakeMeasure(*setup); }, kProbe,
        MeasureInLayout(layout, kProbe, sizeof kProbe - 1));
  } catch (const std::system_error&) {  // no thread to be had
    return nullptr;
  }
}

}  // namespace
#else  // the other ports measure in the DC alone: no layout is kept, no thread measures
namespace {
PangoLayout* MakeMeasuringLayout(wxDC&) { return nullptr; }
void FreeLayout(PangoLayout*) {}
TextExtent MeasureInLayout(PangoLayout*, const wxString&) { return {}; }
std::unique_ptr<CTextMeasuringThread> StartMeasuringThread(PangoLayout*, wxDC&) { return nullptr; }
}  // namespace
#endif

CTextMeasurer::CTextMeasurer(wxWindow& window)
    : m_dc(&window), m_pLayout(MakeMeasuringLayout(m_dc)) {}

CTextMeasurer::~CTextMeasurer() {
  m_pPreparing.reset();  // the thread ends before the layout it copied goes
  FreeLayout(m_pLayout);
}

TextExtent CTextMeasurer::Measure(const wxString& text) {
  if (m_pLayout) return MeasureInLayout(m_pLayout, text);
  wxCoord width = 0;
  wxCoord height = 0;
  m_dc.GetTextExtent(text, &width, &height);
  return TextExtent{width, height};
}

bool CTextMeasurer::StartPreparing() {
  if (!m_pPreparing && m_pLayout) m_pPreparing = StartMeasuringThread(m_pLayout, m_dc);
  return m_pPreparing != nullptr;
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
