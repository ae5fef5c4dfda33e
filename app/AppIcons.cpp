#include "app/AppIcons.h"

#include <wx/bitmap.h>
#include <wx/icon.h>
#include <wx/image.h>

wxIconBundle LoadAppIcons() {
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
