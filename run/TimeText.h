// Turning a UTC FILETIME into the local time text shown in the list.
#pragma once

#include <exception>
#include <string>

#include "platform/Win32.h"

// The error a time conversion raises: E_INVALIDARG or E_FAIL.
class CTimeTextException : public std::exception {
 public:
  explicit CTimeTextException(HRESULT sc) : m_sc(sc) {}
  HRESULT m_sc;
  const char* what() const noexcept override;
  // The error's text for the user (Simplified Chinese).
  std::wstring Message() const;
};

// Local time as "%Y/%m/%d %H:%M:%S". A local time before 1900 shows the
// epoch; one from 1900 that lies before 1970-01-01 00:00:00 UTC or after
// 3000-12-31 23:59:59 UTC throws CTimeTextException(E_INVALIDARG).
std::wstring FormatTimeText(const FILETIME& ft);
