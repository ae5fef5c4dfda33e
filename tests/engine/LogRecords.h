// The log texts the inspector's tests expect, spelled once.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/Win32.h"

namespace veltrano::testing {

// A last-error code as the log prints it: lowercase hexadecimal, no padding.
inline std::string Hex(DWORD code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(code));
  return text;
}

// The two lines of a failed platform call's record; the site names the call.
inline std::string Record(int site, DWORD code) {
  const char* call = site == 74                  ? "CryptQueryObject"
                     : site == 95 || site == 115 ? "CryptMsgGetParam"
                     : site == 406               ? "Timestamp token content type check"
                     : site == 408               ? "Timestamp token signer count check"
                     : site == 415               ? "Timestamp imprint check"
                     : site == 416               ? "Timestamp genTime check"
                                                 : "CryptDecodeObject";
  return "Certificate[" + std::to_string(site) + "]:\n" + call + " failed with ErrorCode[" +
         Hex(code) + "]\n";
}

// The two lines of a failed heap request's record.
inline std::string AllocationRecord(int site, std::string_view message) {
  return "Certificate[" + std::to_string(site) + "]:\n" + std::string(message) + "\n";
}

}  // namespace veltrano::testing
