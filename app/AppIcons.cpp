#include "app/AppIcons.h"

#include <wx/bitmap.h>
#include <wx/icon.h>
#include <wx/image.h>

#ifdef __WXMSW__
#include <wx/msw/wrapwin.h>

#include "res/resource.h"
#endif

wxIconBundle LoadAppIcons() {
#ifdef __WXMSW__
  // The program file's icon group 128, as Windows shows it everywhere else.
  if (::FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON) != nullptr) {
    const wxIconBundle group(wxString::Format(L"#%d", IDR_MAINFRAME), nullptr);
    if (group.IsOk() && !group.IsEmpty()) return group;
  }
#endif
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  wxIconBundle bundle;
  for (std::size_t i = 0; i < kAppIconImageCount; ++i) {
    const EmbeddedImage& image = kAppIconImages[i];
    const wxBitmap bitmap = wxBitmap::NewFromPNGData(image.data, image.length);
    if (!bitmap.IsOk()) continue;
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    bundle.AddIcon(icon);
  }
  return bundle;
}
