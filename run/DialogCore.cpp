#include "run/DialogCore.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <new>

#include "engine/LogStream.h"
#include "platform/ChosenFile.h"
#include "platform/FileTimes.h"

namespace {

// Expected content and format of the embedded signature query.
constexpr DWORD kQueryContent = CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED;
constexpr DWORD kQueryFormat = CERT_QUERY_FORMAT_FLAG_BINARY;

constexpr int kExtendedStyles = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;
constexpr int kColumnCount = 4;

int ClampToInt(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

// A text's width in a column: the larger of its extent's width and height,
// plus 10 pixels.
int WidthOf(const TextExtent& extent) {
  return ClampToInt(static_cast<std::int64_t>(std::max(extent.cx, extent.cy)) + 10);
}

bool IsDotEntry(const WIN32_FIND_DATAW& data) {
  return std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0;
}

// A link or junction: a reparse point that names another file. Other reparse
// points (cloud placeholders, deduplicated files) are the file itself.
bool IsLink(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(data.dwReserved0);
}

// A folder entry not to descend into: a link or junction, or (as Wine shows
// a link to a folder) a reparse point without a tag.
bool IsFolderLink(const WIN32_FIND_DATAW& data) {
  return IsLink(data) ||
         ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && data.dwReserved0 == 0);
}

// The path the platform's calls take. On Windows a path that would pass
// MAX_PATH is given in its extended-length form ("\\?\", up to 32,767
// characters); on Linux any length works as it is.
std::wstring LongPathForm(std::wstring path) {
#ifdef _WIN32
  constexpr std::size_t kRoom = MAX_PATH - 12;  // a folder's path leaves room for a name
  if (path.size() < kRoom || path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
#endif
  return path;
}

// An entry's header line in the log, escaped so that no name can break the
// line or forge a record.
void WriteEntryHeader(veltrano::LogStream& log, const std::wstring& path) {
  if (log.is_open()) {
    log << L"Analyze Signed File[" << veltrano::PercentEscapedText{path} << L"]" << std::endl;
  }
}

// A subfolder that cannot be listed: its header line and the record of the
// failed search (site 76), when a log is kept.
void ReportUnlisted(const std::wstring& folder, DWORD error, bool withLog) {
  CCertificate certificate(withLog);
  if (!certificate.m_log.is_open()) return;
  WriteEntryHeader(certificate.m_log, folder);
  SetLastError(error);
  certificate.ReportError(L"FindFirstFileW failed with ErrorCode", 76);
}

// The record's name up to its terminator, never past the field.
std::wstring EntryName(const WIN32_FIND_DATAW& data) {
  return std::wstring(data.cFileName, wcsnlen(data.cFileName, MAX_PATH));
}

// Closes a search on every way out of the walk.
class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : m_h(h) {}
  ~FindHandle() {
    if (m_h != INVALID_HANDLE_VALUE) FindClose(m_h);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE get() const { return m_h; }

 private:
  HANDLE m_h;
};

}  // namespace

// ---------------------------------------------------------------------------
// Path selection

std::wstring CVeltranoDlgCore::SelectFile(const std::wstring& fullPath,
                                          const std::wstring& fileName,
                                          const std::wstring& folder) {
  m_strPath = fullPath;
  m_strFileName = fileName;
  m_strFolder = folder;
  return m_strPath;
}

std::wstring CVeltranoDlgCore::SelectFolder(const std::wstring& folder) {
  m_strPath = folder;
  const std::wstring shown = m_strPath;
  m_strFileName.clear();
  m_strFolder = m_strPath;
  m_strPath += kPathSeparator;
  m_strPath += L'*';
  return shown;
}

// ---------------------------------------------------------------------------
// Result list

void CVeltranoDlgCore::InitResultList() {
  IResultListView& list = ResultList();
  list.SetExtendedStyle(kExtendedStyles);
  for (int i = 0; i < kColumnCount; ++i) list.InsertColumn(0);
  SetupColumnHeaders();
  FitLastColumn();
  SetTitle(kDialogTitle);
}

void CVeltranoDlgCore::SetupColumnHeaders() {
  IResultListView& list = ResultList();
  for (int column = 0; column < kColumnCount; ++column) {
    const std::wstring text = kColumnHeaders[column];
    list.WriteColumn(column, text, MeasuredWidth(IResultListView::Surface::Header, text));
  }
}

void CVeltranoDlgCore::FitColumnToCell(int nRow, int nColumn) {
  if (!FitsColumns()) return;
  IResultListView& list = ResultList();
  const int lastRow = list.GetItemCount() - 1;
  const int lastColumn = list.GetColumnCount() - 1;
  if (nRow < 0 || nRow > lastRow || nColumn < 0 || nColumn > lastColumn) return;
  SetColumnWidth(nColumn,
                 WidthOf(list.MeasureItemText(IResultListView::Surface::List, nRow, nColumn)));
}

void CVeltranoDlgCore::SetColumnWidth(int nColumn, int nWidth) {
  IResultListView& list = ResultList();
  const int lastColumn = list.GetColumnCount() - 1;
  if (nColumn < 0 || nColumn > lastColumn) return;
  const int remembered = list.GetRememberedWidth(nColumn);
  const bool isLast = nColumn == lastColumn;
  // Columns but the last never narrow; the last is not held to its old width.
  const int width = isLast ? std::max(nWidth, GetRemainingWidth()) : std::max(nWidth, remembered);
  list.WriteColumnWidth(nColumn, width);
  if (!isLast) FitLastColumn();
}

void CVeltranoDlgCore::FitLastColumn() {
  IResultListView& list = ResultList();
  const int remaining = GetRemainingWidth();
  const int lastColumn = list.GetColumnCount() - 1;
  if (lastColumn < 0) return;
  list.WriteColumnWidth(lastColumn, std::max(remaining, list.GetRememberedWidth(lastColumn)));
}

int CVeltranoDlgCore::GetRemainingWidth() {
  IResultListView& list = ResultList();
  const int lastColumn = list.GetColumnCount() - 1;
  std::int64_t others = 0;
  for (int column = 0; column < lastColumn; ++column) others += list.GetRememberedWidth(column);
  return ClampToInt(static_cast<std::int64_t>(list.GetClientWidth()) - others);
}

int CVeltranoDlgCore::MeasuredWidth(IResultListView::Surface surface, const std::wstring& text) {
  return WidthOf(ResultList().MeasureText(surface, text));
}

// ---------------------------------------------------------------------------
// The run

void CVeltranoDlgCore::OnBnClickedChangeTime() {
  m_firstTimeTextError.reset();
  EnableDlgItem(IDC_CHANGE_TIME, false);
  EnableDlgItem(IDC_SINGLE_FILE, false);
  EnableDlgItem(IDC_FOLDER, false);
  // The buttons come back on every way out, an unexpected exception included.
  struct EnableAgain {
    CVeltranoDlgCore& dlg;
    ~EnableAgain() {
      dlg.EnableDlgItem(IDC_CHANGE_TIME, true);
      dlg.EnableDlgItem(IDC_SINGLE_FILE, true);
      dlg.EnableDlgItem(IDC_FOLDER, true);
    }
  };
  {
    EnableAgain enableAgain{*this};
    ResultList().DeleteAllItems();
    WalkPath();
  }
  if (m_firstTimeTextError) {
    const CTimeTextException error = *m_firstTimeTextError;
    m_firstTimeTextError.reset();
    throw error;
  }
}

void CVeltranoDlgCore::WalkPath() {
  DWORD searchError = ERROR_SUCCESS;
  const bool recursive = m_bRecursive && m_strFileName.empty();
  std::vector<std::wstring> subfolders;
  const bool goOn =
      WalkFolder(LongPathForm(m_strPath), recursive ? &subfolders : nullptr, searchError);
  if (searchError != ERROR_SUCCESS) {
    OnSearchFailed(searchError);
    return;
  }
  if (!goOn || subfolders.empty()) return;
  // The chosen folder comes back on every way out.
  struct KeepFolder {
    std::wstring& folder;
    const std::wstring chosen = folder;
    ~KeepFolder() { folder = chosen; }
  } keep{m_strFolder};
  WalkSubfolders(std::move(subfolders));
}

void CVeltranoDlgCore::WalkSubfolders(std::vector<std::wstring> subfolders) {
  // One level per folder on the way down: where its path ends in
  // m_strFolder, and its subfolders still to walk. No search stays open
  // while a subfolder is walked, so the depth takes memory only.
  struct Level {
    std::size_t length;
    std::vector<std::wstring> subfolders;
    std::size_t next = 0;
  };
  std::vector<Level> levels;
  levels.push_back({m_strFolder.size(), std::move(subfolders)});
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.subfolders.size()) {
      levels.pop_back();
      continue;
    }
    m_strFolder.resize(level.length);
    // A folder that ends in the separator (a root) takes no second one.
    if (m_strFolder.empty() || m_strFolder.back() != kPathSeparator) m_strFolder += kPathSeparator;
    m_strFolder += level.subfolders[level.next];
    std::wstring().swap(level.subfolders[level.next++]);
    DWORD searchError = ERROR_SUCCESS;
    std::vector<std::wstring> inner;
    const std::wstring pattern = LongPathForm(m_strFolder + kPathSeparator + L'*');
    if (!WalkFolder(pattern, &inner, searchError)) return;
    if (searchError != ERROR_SUCCESS && searchError != ERROR_FILE_NOT_FOUND) {
      ReportUnlisted(m_strFolder, searchError, !m_bDryRun);
      OnSubfolderUnlisted(m_strFolder, searchError);
    }
    if (!inner.empty()) levels.push_back({m_strFolder.size(), std::move(inner)});
  }
}

bool CVeltranoDlgCore::WalkFolder(const std::wstring& pattern,
                                  std::vector<std::wstring>* subfolders, DWORD& searchError) {
  WIN32_FIND_DATAW findData{};
  // A file chosen by itself is searched for as exactly that file, whatever
  // its name holds; only a folder choice's pattern lists a folder.
  const FindHandle search(m_strFileName.empty() ? FindFirstFileW(pattern.c_str(), &findData)
                                                : FindChosenFileW(pattern.c_str(), &findData));
  if (search.get() == INVALID_HANDLE_VALUE) {
    searchError = GetLastError();
    return true;
  }
  do {
    const bool isDirectory = (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!isDirectory || !IsDotEntry(findData)) {
      BOOL stamped = FALSE;
      // Memory that runs out in one entry ends that entry, not the run (the
      // platform's calls fail with a record where their memory ran out).
      try {
        stamped = ProcessFile(findData);
        if (subfolders != nullptr && isDirectory && !IsFolderLink(findData)) {
          subfolders->push_back(EntryName(findData));
        }
      } catch (const std::bad_alloc&) {
      }
      if (!OnEntryDone(stamped)) return false;
    }
  } while (FindNextFileW(search.get(), &findData));
  return true;
}

void CVeltranoDlgCore::SetTimeCell(int row, int column, const FILETIME& ft) {
  try {
    ResultList().SetItemText(row, column, FormatTimeText(ft));
  } catch (const CTimeTextException& error) {
    if (!m_firstTimeTextError) m_firstTimeTextError = error;
  }
}

BOOL CVeltranoDlgCore::ProcessFile(const WIN32_FIND_DATAW& findData) {
  // A preview writes no log.
  CCertificate certificate(!m_bDryRun);
  return ProcessFile(findData, certificate);
}

BOOL CVeltranoDlgCore::ProcessFile(const WIN32_FIND_DATAW& findData, CCertificate& certificate) {
  const std::wstring name = EntryName(findData);
  certificate.m_strFile = LongPathForm(m_strFolder + kPathSeparator + name);
  certificate.m_bPreview = m_bDryRun;
  certificate.m_pJournal = m_pJournal;
  WriteEntryHeader(certificate.m_log, certificate.m_strFile);

  IResultListView& list = ResultList();
  const int row = list.InsertItem(list.GetItemCount(), name);
  if (row != -1) {
    SetTimeCell(row, 1, findData.ftLastWriteTime);
    list.SetItemText(row, 3, m_strFolder);
    FitColumnToCell(row, 0);
    FitColumnToCell(row, 1);
    FitColumnToCell(row, 3);
  }

  BOOL stamped = FALSE;
  if (m_strFileName.empty() && IsLink(findData)) {
    // A link in a walked folder is not followed, so that nothing outside the
    // folder changes; a file chosen by name is followed, since it was named.
    SetLastError(static_cast<DWORD>(ERROR_STOPPED_ON_SYMLINK));
    certificate.ReportError(L"Link not followed with ErrorCode", 72);
  } else if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, certificate.m_strFile.c_str(), kQueryContent,
                               kQueryFormat, 0, &certificate.m_dwEncoding,
                               &certificate.m_dwContentType, &certificate.m_dwFormatType,
                               &certificate.m_hStore, &certificate.m_hMsg, nullptr)) {
    certificate.ReportError(L"CryptQueryObject failed with ErrorCode", 74);
  } else if (certificate.ReadSignerInfo() && certificate.ReadOpusInfo() &&
             certificate.ReadTimestamp(m_bIncludeRfc3161)) {
    stamped = certificate.StampFileTime();
  }

  if (row != -1) {
    if (stamped) {
      // The times the stamped file held before and holds now, as read through
      // the handle that stamped it (the old one rewritten only when it is not
      // the listed one); a time that could not be read back leaves its cell
      // empty.
      if (veltrano::TicksOf(certificate.m_ftOldTime) !=
          veltrano::TicksOf(findData.ftLastWriteTime)) {
        SetTimeCell(row, 1, certificate.m_ftOldTime);
        FitColumnToCell(row, 1);
      }
      if (certificate.m_ftNewTime) SetTimeCell(row, 2, *certificate.m_ftNewTime);
    } else {
      list.SetItemText(row, 2, L"-");
    }
    FitColumnToCell(row, 2);
  }
  return stamped;
}
