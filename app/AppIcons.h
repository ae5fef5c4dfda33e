// The program's icon (icon group 128), embedded in the binary so the window
// shows it whether or not the program is installed.
#pragma once

#include <wx/iconbndl.h>

#include <cstddef>

// One PNG image of the icon, generated from res/icons at build time.
struct EmbeddedImage {
  int edge;  // width and height in pixels
  const unsigned char* data;
  std::size_t length;
};
extern const EmbeddedImage kAppIconImages[];
extern const std::size_t kAppIconImageCount;

// Every size of the icon (16, 24, 32, 48 and 256 px).
wxIconBundle LoadAppIcons();
