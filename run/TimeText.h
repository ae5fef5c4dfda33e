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
  // The message as UTF-8.
  const char* what() const noexcept override;
  // The error's text for the user, as the platform words it: "参数错误。" for
  // E_INVALIDARG, "未指定的错误" for E_FAIL.
  std::wstring Message() const;
};

// Local time as "%Y/%m/%d %H:%M:%S", whole seconds. The zone's current bias
// turns the UTC value into local calendar fields, which then go through
// FormatLocalTimeText. Throws CTimeTextException(E_INVALIDARG) for a value
// that has no local calendar date (at or beyond 0x8000000000000000, before or
// once the bias is applied).
std::wstring FormatTimeText(const FILETIME& ft);

// The second stage of FormatTimeText, from local calendar fields: a year
// before 1900 shows the instant 1970-01-01 00:00:00 UTC; a field outside its
// range throws E_FAIL; a time from 1900 on that lies before 1970-01-01
// 00:00:00 UTC or after 3000-12-31 23:59:59 UTC throws E_INVALIDARG. Day of
// week and milliseconds are ignored.
std::wstring FormatLocalTimeText(const SYSTEMTIME& local);
