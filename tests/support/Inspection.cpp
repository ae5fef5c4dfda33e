#include "tests/support/Inspection.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "engine/Certificate.h"
#include "platform/ChosenFile.h"
#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "run/HeadlessDialog.h"

namespace veltrano::testing {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

CurrentDirectory::CurrentDirectory(const fs::path& dir) : previous_(fs::current_path()) {
  fs::current_path(dir);
}

CurrentDirectory::~CurrentDirectory() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
}

bool operator==(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

#ifdef _WIN32

namespace {

// The entry itself (a folder or a link too), for reading or setting times.
HANDLE OpenTimes(const fs::path& file, DWORD access) {
  HANDLE h =
      CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail("open " + file.string());
  return h;
}

}  // namespace

FileStamps StampsOf(const fs::path& file) {
  HANDLE h = OpenTimes(file, FILE_READ_ATTRIBUTES);
  FILETIME access{}, modification{};
  const BOOL ok = GetFileTime(h, nullptr, &access, &modification);
  CloseHandle(h);
  if (!ok) Fail("GetFileTime " + file.string());
  return FileStamps{TimespecOf(access), TimespecOf(modification)};
}

void SetStamps(const fs::path& file, const FileStamps& stamps) {
  HANDLE h = OpenTimes(file, FILE_WRITE_ATTRIBUTES);
  const FILETIME access = FileTimeOf(stamps.access);
  const FILETIME modification = FileTimeOf(stamps.modification);
  const BOOL ok = SetFileTime(h, nullptr, &access, &modification);
  CloseHandle(h);
  if (!ok) Fail("SetFileTime " + file.string());
}

std::wstring WidePath(const fs::path& file) { return file.native(); }

std::string HeaderLine(const fs::path& file) {
  std::string line = "Analyze Signed File[";
  AppendPercentEscaped(file.native(), line);
  return line + "]\n";
}

std::string ReadLog(const fs::path& file) { return ReadLogText(ReadBytes(file)); }

std::string ReadLogText(const std::string& text) {
  // Text mode: every line ends in CR LF. A line without its CR stays as it
  // is, so a comparison shows it.
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += "<LF without CR>";
    lines += text[i];
  }
  return lines;
}

#else

FileStamps StampsOf(const fs::path& file) {
  struct stat st {};
  if (lstat(file.c_str(), &st) != 0) Fail("stat " + file.string());
  return FileStamps{st.st_atim, st.st_mtim};
}

void SetStamps(const fs::path& file, const FileStamps& stamps) {
  const timespec times[2] = {stamps.access, stamps.modification};
  if (utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    Fail("utimensat " + file.string());
}

std::wstring WidePath(const fs::path& file) { return WideFromBytes(file.native()); }

std::string HeaderLine(const fs::path& file) {
  std::string line = "Analyze Signed File[";
  AppendPercentEscaped(WidePath(file), line);
  return line + "]\n";
}

std::string ReadLog(const fs::path& file) { return ReadBytes(file); }

std::string ReadLogText(const std::string& text) { return text; }

#endif

FileStamps DistinctStamps() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return FileStamps{timespec{now.tv_sec + 3600, 123456789},
                    timespec{981173106, 700000000}};  // 2001-02-03 04:05:06.7 UTC
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) Fail("open " + file.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("write " + file.string());
}

FILETIME FileTimeOfUnix(std::int64_t seconds) {
  return FileTimeOf(
      static_cast<std::uint64_t>(seconds * static_cast<std::int64_t>(kTicksPerSecond) +
                                 static_cast<std::int64_t>(kEpochDifferenceTicks)));
}

std::wstring TimeTextOfUnix(std::int64_t seconds) {
  try {
    return FormatTimeText(FileTimeOfUnix(seconds));
  } catch (const CTimeTextException&) {
    return L"";
  }
}

Inspection InspectFile(const std::wstring& path, const Watch& watch, bool rfc3161) {
  CHeadlessDialog dialog;
  dialog.m_bIncludeRfc3161 = rfc3161;
  dialog.InitResultList();
  const std::size_t slash = path.rfind(kPathSeparator);
  dialog.m_strFolder = path.substr(0, slash);
  // The entry as the search gives it; a missing file gets its name alone.
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindChosenFileW(path.c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  const std::wstring name = path.substr(slash + 1);
  std::copy(name.begin(), name.end(), entry.cFileName);

  CCertificate cert;
  if (watch) watch(cert);
  Inspection result;
  result.logOpen = cert.m_log.is_open();
  result.stamped = dialog.ProcessFile(entry, cert);
  result.lastError = GetLastError();
  result.newTime = dialog.m_list.GetItemText(0, 2);
  result.oldTime = cert.m_ftOldTime;
  result.readBack = cert.m_ftNewTime;
  const auto copy = [](const veltrano::HeapPtr<wchar_t>& text) -> std::optional<std::wstring> {
    if (!text) return std::nullopt;
    return std::wstring(text.get());
  };
  result.programName = copy(cert.m_pszProgramName);
  result.publisherLink = copy(cert.m_pszPublisherLink);
  result.moreInfoLink = copy(cert.m_pszMoreInfoLink);
  // Where the chain stopped, from what the inspector holds: between the two
  // attribute reads only the opus copies tell the steps apart.
  const bool opusRead = result.programName || result.publisherLink || result.moreInfoLink;
  const bool counterSignerOrTokenFound = cert.m_pCounterSignerInfo || cert.m_ftModernTimestamp;
  result.stoppedAt = result.stamped              ? Step::Done
                     : !cert.m_hMsg              ? Step::Query
                     : !cert.m_pSignerInfo       ? Step::SignerInfo
                     : counterSignerOrTokenFound ? Step::Stamp
                     : opusRead                  ? Step::CounterSigner
                                                 : Step::OpusInfo;
  return result;
}

}  // namespace veltrano::testing
