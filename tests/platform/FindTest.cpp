#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>

#include "platform/standin/Find.h"
#endif

#include <string>
#include <vector>

#include "platform/FileTimes.h"
#include "platform/WideText.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"
#include "tests/support/Inspection.h"

namespace veltrano {
namespace {

using fixtures::BytesOf;
using fixtures::TempDir;
using fixtures::WriteFile;

struct Listed {
  std::wstring name;
  DWORD attributes;
  FILETIME lastWrite;
  DWORD reparseTag;
};

// Every entry the search for `pattern` returns, or nothing with the error.
std::vector<Listed> Search(const std::wstring& pattern, DWORD* error = nullptr) {
  std::vector<Listed> out;
  WIN32_FIND_DATAW data{};
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return out;
  }
  do {
    out.push_back({data.cFileName, data.dwFileAttributes, data.ftLastWriteTime, data.dwReserved0});
  } while (FindNextFileW(h, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(h));
  return out;
}

std::vector<std::wstring> Names(const std::vector<Listed>& entries) {
  std::vector<std::wstring> names;
  for (const Listed& e : entries) names.push_back(e.name);
  return names;
}

std::wstring W(const std::string& bytes) { return WideFromBytes(bytes); }
std::wstring WPath(const std::filesystem::path& path) { return testing::WidePath(path); }

// A folder's search pattern and one entry's path, with the platform's
// separator.
constexpr wchar_t kSep = std::filesystem::path::preferred_separator;
std::wstring In(const std::wstring& dir, const wchar_t* rest) { return dir + kSep + rest; }

TEST(FindFiles, FolderListsDotEntriesFirstThenNamesIgnoringCase) {
  if (fixtures::WineGap("Wine lists a folder in the host file system's order, not sorted as NTFS "
                        "does"))
    GTEST_SKIP();
  // Upper-cased, "É" (U+00C9) comes after "S" and "_"; names that differ
  // only in case go by their bytes. Long names are compared eight bytes at a
  // time: there the 9th byte decides, upper-cased, around the letters' bounds
  // ('@' below 'A'; '_', '`', '{' above 'Z').
  std::vector<std::string> sorted = {"10", "2", "A", "a", "b", "C", "f.txt"};
  for (const char c : std::string("@aBz_`{")) {
    sorted.push_back((c == 'B' ? "SORTKEY-" : "sortkey-") + std::string(1, c) + "-padded.txt");
  }
  sorted.insert(sorted.end(), {"Sub", "_x", "\xC3\x89.txt", "\xC3\xA9.txt"});
  // Names whose start is not ASCII are compared as text, not by keys of
  // bytes; there too 'z' is upper-cased (below '_'), byte by byte and eight
  // bytes at a time.
  for (const char* tail : {"sortkey-z-padded.txt", "sortkey-_-padded.txt", "z", "_"})
    sorted.push_back(std::string("\xC3\xA9") + tail);
#ifndef _WIN32
  // Not UTF-8: its escape code point sorts last (no such name on Windows).
  sorted.push_back("\xFF");
#endif
  // Names that all start alike sort the same way.
  for (const std::string start : {"", "shared-start-"}) {
    TempDir dir;
    std::vector<std::wstring> expected = {L".", L".."};
    for (const std::string& name : sorted) {
      const std::string bytes = start + name;
      const std::filesystem::path path = dir / std::u8string(bytes.begin(), bytes.end());
      if (name == "Sub") {
        ASSERT_TRUE(std::filesystem::create_directory(path));
      } else {
        WriteFile(path, {});
      }
      expected.push_back(W(bytes));
    }
    EXPECT_EQ(Names(Search(In(WPath(dir.path()), L"*"))), expected);
  }
}

#ifndef _WIN32
TEST(FindFiles, AFolderListsAsTheSearchStartedWithoutTheNamesGoneSince) {
  TempDir dir;
  for (const char* name : {"a", "b", "c", "d", "e"}) WriteFile(dir / name, {});
  WIN32_FIND_DATAW data{};
  HANDLE h = FindFirstFileW(In(WPath(dir.path()), L"*").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<std::wstring> listed;
  do {
    listed.push_back(data.cFileName);
    if (listed.back() != L"a") continue;
    // Gone since the start; added after, before and (in letter case) at the
    // name handed out.
    std::filesystem::remove(dir / "b");
    std::filesystem::remove(dir / "d");
    for (const char* name : {"bb", "0", "A"}) WriteFile(dir / name, {});
  } while (FindNextFileW(h, &data));
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(listed, (std::vector<std::wstring>{L".", L"..", L"a", L"c", L"e"}));
}
#endif

#ifndef _WIN32  // links on Windows are reparse points, made only with a privilege
// As Windows describes a link: by its own status (never a folder), a reparse
// point with the symbolic link's tag.
TEST(FindFiles, AttributesAndTimesComeFromTheEntryItselfAlsoForOnePath) {
  TempDir dir;
  WriteFile(dir / "file", BytesOf("x"));
  WriteFile(dir / "file.bak", BytesOf("x"));
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
  WriteFile(dir / "folder/inner", BytesOf("x"));
  ASSERT_EQ(symlink("folder", (dir / "link-to-folder").c_str()), 0);
  ASSERT_EQ(symlink("file", (dir / "link-to-file").c_str()), 0);
  ASSERT_EQ(symlink("missing", (dir / "dangling").c_str()), 0);
  ASSERT_TRUE(fixtures::SetModificationTime(dir / "file", 1600000000, 123456789));
  for (const char* link : {"dangling", "link-to-file"})
    ASSERT_TRUE(fixtures::SetModificationTime(dir / link, 1500000000));

  const FILETIME fileTime = FileTimeOf(timespec{1600000000, 123456700});
  struct Expect {
    const wchar_t* name;
    bool directory;
    std::uint64_t lastWrite;  // 0: not checked
  } expected[] = {
      {L".", true, 0},
      {L"..", true, 0},
      {L"dangling", false, TicksOf(FileTimeOf(timespec{1500000000, 0}))},
      {L"file", false, TicksOf(fileTime)},
      {L"file.bak", false, 0},
      {L"folder", true, 0},
      {L"link-to-file", false, TicksOf(FileTimeOf(timespec{1500000000, 0}))},
      {L"link-to-folder", false, 0},
  };
  const std::vector<Listed> listed = Search(WPath(dir.path()) + L"/*");
  ASSERT_EQ(listed.size(), std::size(expected));
  for (std::size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(listed[i].name, expected[i].name);
    EXPECT_EQ((listed[i].attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, expected[i].directory);
    const bool link = listed[i].name == L"dangling" || listed[i].name.starts_with(L"link");
    EXPECT_EQ((listed[i].attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, link);
    EXPECT_EQ(listed[i].reparseTag, link ? IO_REPARSE_TAG_SYMLINK : 0);
    if (expected[i].lastWrite != 0) {
      EXPECT_EQ(TicksOf(listed[i].lastWrite), expected[i].lastWrite);
    }
    // Any other pattern is one exact path: a folder's own path is that
    // folder's entry, not its content.
    if (i < 2) continue;
    const std::vector<Listed> alone = Search(WPath(dir / listed[i].name));
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone[0].name, listed[i].name);
    EXPECT_EQ(alone[0].attributes, listed[i].attributes);
    EXPECT_EQ(TicksOf(alone[0].lastWrite), TicksOf(listed[i].lastWrite));
  }
}
#endif

TEST(FindFiles, UnusablePatternsGiveAnInvalidHandleAndACode) {
  TempDir dir;
  WriteFile(dir / "file", BytesOf("x"));
  const std::wstring d = WPath(dir.path());
  struct Case {
    std::wstring pattern;
    DWORD error;
  };
  std::vector<Case> cases = {
      {L"", ERROR_PATH_NOT_FOUND},
      {In(d, L"missing"), ERROR_FILE_NOT_FOUND},
      {In(In(d, L"missing"), L"*"), ERROR_PATH_NOT_FOUND},
      {In(In(d, L"file"), L"*"), ERROR_PATH_NOT_FOUND},
      {In(d, L""), ERROR_FILE_NOT_FOUND},
  };
#ifndef _WIN32
  // The stand-in expands only a final "*" (the program passes no other
  // wildcard); Windows expands them all. A lone surrogate is a valid
  // Windows name.
  cases.push_back({d + L"/fi*", ERROR_FILE_NOT_FOUND});
  cases.push_back({d + L"/" + std::wstring(1, static_cast<wchar_t>(0xD800)), ERROR_INVALID_NAME});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(BytesFromWide(c.pattern).value_or("<unencodable>")));
    DWORD error = 0;
    EXPECT_TRUE(Search(c.pattern, &error).empty());
    if (c.pattern == In(In(d, L"file"), L"*") &&
        fixtures::WineGap("Wine gives ERROR_INVALID_NAME for a pattern inside a file"))
      continue;
    EXPECT_EQ(error, c.error);
  }
}

#ifndef _WIN32  // a Linux root; Windows has drive roots, and the stand-in's name copier
TEST(FindFiles, TheRootListsWithOneOrTwoSeparators) {
  for (const wchar_t* pattern : {L"/*", L"//*"}) {
    SCOPED_TRACE(::testing::PrintToString(BytesFromWide(pattern)));
    const std::vector<std::wstring> names = Names(Search(pattern));
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], L".");
    EXPECT_EQ(names[1], L"..");
    EXPECT_NE(std::find(names.begin(), names.end(), L"tmp"), names.end());
  }
}

TEST(FindFiles, NamesThatDoNotFitTheRecordAreRefused) {
  WCHAR field[MAX_PATH];
  field[0] = L'k';
  EXPECT_FALSE(CopyFindName(std::wstring(MAX_PATH, L'n'), field));
  EXPECT_EQ(field[0], L'k');
  ASSERT_TRUE(CopyFindName(std::wstring(MAX_PATH - 1, L'n'), field));
  EXPECT_EQ(field[MAX_PATH - 1], L'\0');
}
#endif

}  // namespace
}  // namespace veltrano
