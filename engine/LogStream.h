// The character conversion of the diagnostic log.
//
// The log is UTF-8 without a byte-order mark: ASCII text comes out byte for
// byte, any other character of a path is written in full, and the escape code
// points that carry undecodable file-name bytes (see platform/WideText.h) are
// written back as those bytes. No character ends a line early.
#pragma once

#include <locale>

namespace veltrano {

// The locale to imbue into the log stream before it is opened.
std::locale LogLocale();

}  // namespace veltrano
