#include "run/TimeText.h"

#include <ctime>
#include <cwchar>

#include "platform/WideText.h"

const char* CTimeTextException::what() const noexcept {
  // The platform's wording of the two codes, as UTF-8.
  switch (m_sc) {
    case E_INVALIDARG:
      return "参数错误。";
    case E_FAIL:
      return "未指定的错误";
    default:
      return "未知错误";
  }
}

std::wstring CTimeTextException::Message() const { return veltrano::WideFromBytes(what()); }

namespace {

// The fields as "%Y/%m/%d %H:%M:%S" would format them. Years here lie
// between 1969 and 3001, so the year has four digits; any other goes through
// wcsftime itself.
std::wstring TimeText(const std::tm& split) {
  const int year = split.tm_year + 1900;
  if (year < 1000 || year > 9999) {
    wchar_t buffer[128];
    const std::size_t length = std::wcsftime(buffer, 128, L"%Y/%m/%d %H:%M:%S", &split);
    return std::wstring(buffer, length);
  }
  wchar_t text[19];
  const auto put = [&text](int at, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
      text[at + i] = static_cast<wchar_t>(L'0' + value % 10);
  };
  put(0, year, 4);
  text[4] = L'/';
  put(5, split.tm_mon + 1, 2);
  text[7] = L'/';
  put(8, split.tm_mday, 2);
  text[10] = L' ';
  put(11, split.tm_hour, 2);
  text[13] = L':';
  put(14, split.tm_min, 2);
  text[16] = L':';
  put(17, split.tm_sec, 2);
  return std::wstring(text, 19);
}

}  // namespace

std::wstring FormatTimeText(const FILETIME& ft) {
  // A value past every date (at or beyond 2^63) is refused before the zone's
  // bias could wrap it round into one.
  if (ft.dwHighDateTime >= 0x80000000u) throw CTimeTextException(E_INVALIDARG);
  FILETIME local{};
  if (!FileTimeToLocalFileTime(&ft, &local)) throw CTimeTextException(E_INVALIDARG);
  SYSTEMTIME st{};
  if (!FileTimeToSystemTime(&local, &st)) throw CTimeTextException(E_INVALIDARG);
  return FormatLocalTimeText(st);
}

std::wstring FormatLocalTimeText(const SYSTEMTIME& local) {
  __time64_t value = 0;  // a year before 1900 shows the 1970 epoch
  if (local.wYear >= 1900) {
    if (local.wMonth < 1 || local.wMonth > 12 || local.wDay < 1 || local.wDay > 31 ||
        local.wHour > 23 || local.wMinute > 59 || local.wSecond > 59) {
      throw CTimeTextException(E_FAIL);
    }
    std::tm fields{};
    fields.tm_year = local.wYear - 1900;
    fields.tm_mon = local.wMonth - 1;
    fields.tm_mday = local.wDay;
    fields.tm_hour = local.wHour;
    fields.tm_min = local.wMinute;
    fields.tm_sec = local.wSecond;
    fields.tm_isdst = -1;  // the runtime decides whether daylight saving applies
    value = _mktime64(&fields);
    if (value == -1) throw CTimeTextException(E_INVALIDARG);
  }

  std::tm split{};
  if (_localtime64_s(&split, &value) != 0) throw CTimeTextException(E_INVALIDARG);
  return TimeText(split);
}
