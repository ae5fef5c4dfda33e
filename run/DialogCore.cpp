#include "run/DialogCore.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <new>

#include "engine/LogStream.h"
#include "platform/ChosenFile.h"

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
  WIN32_FIND_DATAW findData{};
  // A file chosen by itself is searched for as exactly that file, whatever
  // its name holds; only a folder choice's pattern lists a folder.
  const FindHandle search(m_strFileName.empty() ? FindFirstFileW(m_strPath.c_str(), &findData)
                                                : FindChosenFileW(m_strPath.c_str(), &findData));
  if (search.get() == INVALID_HANDLE_VALUE) {
    OnSearchFailed(GetLastError());
    return;
  }
  do {
    const bool isDirectory = (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!isDirectory || !IsDotEntry(findData)) {
      BOOL stamped = FALSE;
      // Memory that runs out in one entry ends that entry, not the run (the
      // platform's calls fail with a record where their memory ran out).
      try {
        stamped = ProcessFile(findData);
      } catch (const std::bad_alloc&) {
      }
      if (!OnEntryDone(stamped)) break;
    }
  } while (FindNextFileW(search.get(), &findData));
}

void CVeltranoDlgCore::SetTimeCell(int row, int column, const FILETIME& ft) {
  try {
    ResultList().SetItemText(row, column, FormatTimeText(ft));
  } catch (const CTimeTextException& error) {
    if (!m_firstTimeTextError) m_firstTimeTextError = error;
  }
}

BOOL CVeltranoDlgCore::ProcessFile(const WIN32_FIND_DATAW& findData) {
  CCertificate certificate;
  return ProcessFile(findData, certificate);
}

BOOL CVeltranoDlgCore::ProcessFile(const WIN32_FIND_DATAW& findData, CCertificate& certificate) {
  const std::wstring name = EntryName(findData);
  certificate.m_strFile = m_strFolder + kPathSeparator + name;
  // Escaped, so that no name can break the line or forge a record.
  if (certificate.m_log.is_open()) {
    certificate.m_log << L"Analyze Signed File["
                      << veltrano::PercentEscapedText{certificate.m_strFile} << L"]" << std::endl;
  }

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
      // the handle that stamped it; a time that could not be read back
      // leaves its cell empty.
      SetTimeCell(row, 1, certificate.m_ftOldTime);
      FitColumnToCell(row, 1);
      if (certificate.m_ftNewTime) SetTimeCell(row, 2, *certificate.m_ftNewTime);
    } else {
      list.SetItemText(row, 2, L"-");
    }
    FitColumnToCell(row, 2);
  }
  return stamped;
}
