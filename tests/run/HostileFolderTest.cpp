// The headless command in folders strangers control, with outputs that fail
// and runs that are cut short: nothing hangs, nothing is lost, every failure
// is said. Each row is a shell script run with an alarm set (so a hang fails
// the row) in a fresh current directory, with $B the executable, $D the walked
// folder (holding signed.exe, last written in 2022), $P the write-slowing
// preload and $K the preload that kills at the first stamp. Rows that need root skip with the
// reason where it is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <functional>
#include <map>
#include <sstream>

#include "tests/run/RunFixture.h"

namespace veltrano {
namespace {
namespace fs = std::filesystem;
using namespace fixtures;

constexpr std::int64_t kSigned = 1554444428;  // the signing time of BuildSignedPe()
const std::int64_t kOld = UtcSeconds(2022, 6, 1);
constexpr char kRoot[] = "unshare -m true";
constexpr char kNobody[] = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
const std::string kAsNobody = std::string(kNobody) + VELTRANO_BATCH_EXE + " -h";
const std::string kLimitedStart = std::string("ulimit -d 10000 && ") + VELTRANO_BATCH_EXE + " -h";
constexpr char kRecord74[] = "]:\nCryptQueryObject failed with ErrorCode[0x80092009]\n";
constexpr char kRecord72[] = "[72]:\nLink not followed with ErrorCode[0x2a9]\n";
constexpr char kRecord105[] = "[105]:\nUnable to allocate memory for Signer Info.\n";
constexpr char kRecord420[] = "[420]:\nTime read back differs from the signing time.\n";
constexpr char kFolder74[] = "[74]:\nCryptQueryObject failed with ErrorCode[0x5]\n";
constexpr char kRecord76[] = "[76]:\nFindFirstFileW failed with ErrorCode[0x5]\n";
constexpr char kNoLinkOrder[] = " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 ";
constexpr char kOutOfMemory74[] = "[74]:\nCryptQueryObject failed with ErrorCode[0x8007000e]\n";
// Exchanges a$i with b$i (i = 1..20) in $1, over and over.
constexpr char kSwapper[] =
    "import ctypes, sys\nd, x = sys.argv[1], ctypes.CDLL(None).renameat2\n"
    "p = [(f\"{d}/a{i}\".encode(), f\"{d}/b{i}\".encode()) for i in range(1, 21)]\n"
    "while 1:\n for a, b in p: x(-100, a, -100, b, 2)\n";

struct Outcome {
  int status = -1;
  std::string out, err, log;
};
using Check = std::function<void(const fs::path& data, const Outcome&)>;

struct HostileCase {
  const char* name;
  std::string script;
  int status = 0;
  std::string err = "";  // a part of standard error; empty: nothing at all
  std::optional<bool> stamped = true;
  Check check = nullptr;
  std::string needs = "";     // a command that fails where the machine cannot build the row
  int cut = 0;                // 1500 more signed files; after the first line of output, this
                              // signal is sent, or (-1) the reader leaves
  bool unusableTime = false;  // signed.exe's signing time cannot be decoded
  Check prepare = nullptr;    // writes more files into the folder first
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

int Count(const std::string& text, const std::string& what = "\n") {
  int n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}
std::int64_t Mtime(const fs::path& path) { return testing::StampsOf(path).modification.tv_sec; }
int CountStamped(const fs::path& data) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(data)) n += Mtime(e.path()) == kSigned;
  return n;
}
// Every file that was changed has its row printed; the rest stayed as they were.
void EveryChangeHasItsRow(const fs::path& data, const Outcome& r) {
  EXPECT_LT(Count(r.out), 1500);
  EXPECT_EQ(Count(r.out) - 1 - Count(r.out, "\t-\t"), CountStamped(data));
}

// Under swaps of a$i with b$i, each "a" file (last written in 2001) or "b" file (2002, one
// byte longer) that changed shows its old time in exactly one changed row of its pair.
void ChangedRowsShowTheChangedFilesOldTimes(const fs::path& data, const Outcome& r) {
  std::map<std::string, std::array<int, 4>> pairs;  // "a" and "b" changed, 2001 and 2002 shown
  for (const auto& e : fs::directory_iterator(data))
    if (const std::string name = e.path().filename(); name[0] != 's' && Mtime(e) == kSigned)
      ++pairs[name.substr(1)][e.file_size() - fs::file_size(data / "signed.exe")];
  std::istringstream rows(r.out);
  for (std::string row; std::getline(rows, row);)
    for (int k : {0, 1})
      pairs[row.substr(1, row.find('\t') - 1)][2 + k] +=
          row.find("\t-\t") == row.npos && row.find(k ? "\t2002/" : "\t2001/") != row.npos;
  for (const auto& [pair, n] : pairs) EXPECT_TRUE(n[0] == n[2] && n[1] == n[3]) << pair;
}

void WriteLateFile(const fs::path& data, const Outcome&) {
  SignatureOptions late;
  late.signingTime = UtcTime("490101000000Z");
  WriteFile(data / "late.exe", BuildSignedPe(late));
}

Outcome RunScript(const HostileCase& c, const fs::path& root) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const int err = open((root / "err").c_str(), O_WRONLY | O_CREAT, 0600);
    if (err < 0 || dup2(err, 2) < 0 || chdir((root / "work").c_str()) != 0) _exit(127);
    setenv("B", VELTRANO_BATCH_EXE, 1);
    setenv("D", (root / "data").c_str(), 1);
    setenv("P", VELTRANO_SLOW_WRITES, 1);
    setenv("K", VELTRANO_KILL_ON_STAMP, 1);
    alarm(60);
    execl("/bin/sh", "sh", "-c", c.script.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  Outcome r;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    const bool first = r.out.find('\n') == std::string::npos;
    r.out.append(buffer, static_cast<std::size_t>(n));
    if (!first || r.out.find('\n') == std::string::npos) continue;
    if (c.cut > 0) kill(pid, c.cut);
    if (c.cut < 0) break;
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.err = testing::ReadBytes(root / "err");
  const fs::path log = root / "work/CertificateLog.log";
  if (fs::is_regular_file(log)) r.log = testing::ReadBytes(log);
  return r;
}

const HostileCase kCases[] = {
    // 1: the log's name taken by a FIFO or a folder: never waited on, never
    // written, said once; the results are the same.
    {"LogIsAFifo", "mkfifo CertificateLog.log && exec $B $D", 0, "无法打开诊断日志"},
    {"LogIsAFolder", "mkdir CertificateLog.log && echo >$D/unsigned && exec $B $D", 0,
     "无法打开诊断日志", true, [](auto&, const Outcome& r) { EXPECT_EQ(Count(r.err), 1); }},
    // 2: only regular files are opened: a writer waiting on a FIFO stays
    // waiting with its data; FIFO, device and socket are unsigned entries.
    {"SpecialEntriesAreNeverOpened",
     "mkfifo $D/fifo && mknod $D/null c 1 3 && python3 -c 'import socket, sys; "
     "socket.socket(socket.AF_UNIX).bind(sys.argv[1])' $D/sock && "
     "{ (exec 3>$D/fifo; echo data >&3) & } && for i in $(seq 100); do "
     "grep -qs wait_for_partner /proc/$!/wchan && break; sleep 0.01; done; "
     "$B $D; kill -0 $! && cat $D/fifo",
     0, "", true,
     [](auto&, const Outcome& r) {
       EXPECT_EQ(r.out.substr(r.out.size() - 6), "\ndata\n") << "the writer was released";
       EXPECT_EQ(Count(r.log, kRecord74), 3);
     },
     kRoot},
    // 3: a stop signal lets the current entry finish; every row so far is out.
    {"Sigint", "exec $B $D", 130, "收到SIGINT，已在当前条目完成后停止", std::nullopt,
     EveryChangeHasItsRow, "", SIGINT},
    {"Sigterm", "exec $B $D", 143, "收到SIGTERM，已在当前条目完成后停止", std::nullopt,
     EveryChangeHasItsRow, "", SIGTERM},
    // 4: rows that cannot be written stop the run before any further change.
    {"StandardOutputIsFull", "exec $B $D >/dev/full", 1, "无法写出结果，未做任何更改", false},
    {"StandardOutputIsClosed", "exec $B $D >&-", 1, "无法写出结果，未做任何更改", false},
    {"TheReaderGoesAway", "exec $B $D", 1, "运行已停止；未能写出的一行：", std::nullopt,
     [](auto& data, auto&) { EXPECT_LT(CountStamped(data), 1500); }, "", -1},
    // 5: a folder that cannot be listed is said (one beyond PATH_MAX: row 16).
    {"FolderCannotBeListed", "chmod 755 .. && chmod 0 $D && exec " + std::string(kNobody) + "$B $D",
     1, "（拒绝访问，错误代码 0x5）", false, nullptr, kAsNobody},
    // 6: a full disk cuts no record into the next run's lines; another writer
    // never gets between a record's two lines.
    {"LogOnAFullDisk",
     "exec unshare -m sh -c 'mount -t tmpfs -o size=4k none . && cd \"$(pwd -P)\" && "
     "head -c 4087 /dev/zero >CertificateLog.log && exec $B $D'",
     0, "写入失败", true, nullptr, kRoot},
    {"AnotherWriterKeepsRecordsWhole",
     "for i in $(seq 40); do echo >$D/u$i; done; (while :; do echo z; done) >>CertificateLog.log & "
     "until [ -s CertificateLog.log ]; do :; done; LD_PRELOAD=$P" +
         std::string(kNoLinkOrder) + "$B $D >/dev/null; kill $!",
     0, "", true, [](auto&, const Outcome& r) { EXPECT_EQ(Count(r.log, kRecord74), 40); }},
    // 7: names cannot break a log line or a row.
    {"NamesCannotForgeLines",
     "touch \"$D/x$(printf '\\nCertificate[999]:\\nfake[0x0]')\" \"$D/y$(printf '\\r\\033')%\" && "
     "exec $B $D",
     0, "", true,
     [](auto&, const Outcome& r) {
       EXPECT_EQ(Count(r.log, "/x%0ACertificate[999]:%0Afake[0x0]]\n"), 1);
       EXPECT_EQ(Count(r.out), 4);
       EXPECT_EQ(Count(r.out, "\ny%0D%1B%25\t"), 1);
     }},
    // 8: a single file named "*" is that file alone.
    {"AFileNamedStar", "cp $D/signed.exe \"$D/*\" && exec $B \"$D/*\"", 0, "", false,
     [](auto& data, const Outcome& r) {
       EXPECT_EQ(Mtime(data / "*"), kSigned);
       EXPECT_EQ(r.log, "Analyze Signed File[" + (data / "*").string() + "]\n");
     }},
    // 9: stamping needs no /proc (the process's own descriptors there are
    // hidden; all of /proc would also take the sanitizers' view of it).
    {"NoProc", "exec unshare -m sh -c 'mount -t tmpfs none /proc/$$/fd && exec $B $D'", 0, "", true,
     nullptr, kRoot},
    // 10: where the stamp cannot be made, the open fails before the time is
    // read: an unusable signing time writes no record, as on Windows.
    {"AnotherUsersFile", "chmod 755 .. $D && chmod 777 . && exec " + std::string(kNobody) + "$B $D",
     0, "", false, nullptr, kAsNobody, 0, true},
    {"ReadOnlyMount",
     "exec unshare -m sh -c 'mount --bind $D $D && mount -o remount,bind,ro $D && exec $B $D'", 0,
     "", false, nullptr, kRoot, 0, true},
    // 11: a log that is a link (symbolic, dangling or hard) is not written;
    // runs sharing a log wait for its lock briefly, so lines stay whole, and
    // a lock held for ever costs one wait.
    {"LogIsALink",
     "echo keep >t && for l in 'ln -s t' 'ln -s gone' 'ln t'; do $l CertificateLog.log && "
     "$B $D >/dev/null; rm CertificateLog.log; done; [ ! -e gone ] && exec cat t",
     0, "无法打开诊断日志", true,
     [](auto&, const Outcome& r) { EXPECT_EQ(Count(r.err) * 10 + Count(r.out, "keep"), 31); }},
    {"RunsShareALog",
     "L=$(printf %0200d 0) && for i in $(seq 300); do : >$D/u$i-$L; done && "
     "for k in 1 2 3; do $B $D >/dev/null & $B $D >/dev/null; wait; done",
     0, "", true, [](auto&, const Outcome& r) { EXPECT_EQ(Count(r.log), 6 * 901); }},
    {"LogLockedForEver",
     "for i in $(seq 1000); do : >$D/u$i; done; exec 9>>CertificateLog.log && flock 9 && exec $B "
     "$D",
     0, "写入失败", true, [](auto&, const Outcome& r) { EXPECT_EQ(r.log, ""); }},
    // 12: a SIGINT ignored when the run began stays ignored.
    {"IgnoredSigint", "trap '' INT && exec $B $D", 0, "", true,
     [](auto& data, auto&) { EXPECT_EQ(CountStamped(data), 1501); }, "", SIGINT},
    // 13: a link in the folder is not followed (a "-" and a record); one chosen by name is.
    {"LinksInTheFolderAreNotFollowed",
     "cp -p $D/signed.exe o.exe && ln -s $PWD/o.exe $D/l.exe && ln -s $PWD $D/dir && "
     "ln -s /nowhere $D/gone && $B $D >/dev/null && [ $(stat -c %Y o.exe) = " +
         std::to_string(kOld) + " ] && exec $B $D/l.exe",
     0, "", true,
     [](auto& data, const Outcome& r) {
       EXPECT_EQ(Count(r.log, kRecord72), 3);
       EXPECT_EQ(Mtime(data / "../work/o.exe"), kSigned);
     }},
    // 14: entries swapped (renameat2's RENAME_EXCHANGE) while each log write takes 2 ms.
    {"SwapsBetweenListingAndStamping",
     "for i in $(seq 20); do cp $D/signed.exe $D/a$i && (cat $D/signed.exe; echo) >$D/b$i && "
     "touch -d 2001-06-01 $D/a$i && touch -d 2002-06-01 $D/b$i; done; python3 -c '" +
         std::string(kSwapper) + "' $D & sleep 0.2; LD_PRELOAD=$P" + kNoLinkOrder +
         "$B $D; kill $!",
     0, "", true, ChangedRowsShowTheChangedFilesOldTimes},
    // 15: the row shows what a file system that cannot hold the time holds (ext4 -I 128: 2038).
    {"TimeTheFileSystemCannotHold",
     "truncate -s 8M img && mkfs.ext4 -q -I 128 img 2>/dev/null && mkdir m && exec unshare -m "
     "sh -c 'mount -o loop img m && mkdir m/x && cp -p $D/late.exe m/x && TZ=UTC0 exec $B m/x'",
     0, "", std::nullopt,
     [](auto&, const Outcome& r) {
       EXPECT_EQ(Count(r.out, "late.exe\t2022/06/01 00:00:00\t2038/01/19 03:14:07\t"), 1);
       EXPECT_EQ(Count(r.log, kRecord420), 1);
     },
     std::string(kRoot) + " && test -e /dev/loop-control", 0, false, WriteLateFile},
    // 16: arguments as the kernel resolves them: "link/..", a folder beyond PATH_MAX given as
    // "." and by its absolute path, and a file in it.
    {"ArgumentsAsTheKernelResolvesThem",
     "mkdir $D/sub && ln -s $D/sub ln && $B ln/../signed.exe && W=$PWD && L=$(printf %0200d 0) && "
     "cd $D && for i in $(seq 25); do mkdir $L && cd -P $L; done && cp $D/signed.exe . && $B . && "
     "P=$PWD && cd $W && $B \"$P\" && exec $B \"$P/signed.exe\"",
     0, "", true,
     [](auto&, const Outcome& r) {
       EXPECT_EQ(Count(r.out) - Count(r.out, "\t-\t"), 8);
       EXPECT_EQ(Count(r.out, "/ln/..\n"), 1);
     }},
    // 17: a 15 MB signature of 2 million attributes: its 64 MB signer information is refused
    // within 60 MB, its query fails within 10 MB. (Wine cannot start under such a limit.)
    {"ACraftedFileCannotExhaustMemory",
     "(ulimit -d 60000 && exec $B $D >/dev/null) && ulimit -d 10000 && exec $B $D", 0, "", true,
     [](auto&, const Outcome& r) {
       EXPECT_EQ(Count(r.log, kRecord105), 1);
       EXPECT_EQ(Count(r.log, kOutOfMemory74), 1);
     },
     kLimitedStart, 0, false,
     [](auto& data, auto&) {
       Bytes attributes = {0x30, 0x05, 0x06, 0x01, 0x2A, 0x31, 0x00};
       while (attributes.size() < 14 << 20)
         attributes.insert(attributes.end(), attributes.begin(), attributes.end());
       SignatureOptions crafted;
       crafted.extraUnauthenticatedAttributes = {attributes};
       WriteFile(data / "crafted.exe", BuildSignedPe(crafted));
     }},
    // 18: subfolders (-r): each folder's entries, then its subfolders' in order; links to
    // folders not descended into; one that cannot be listed is said, the run goes on (status 1).
    {"SubfoldersInOrderNoLinkFollowed",
     "mkdir -p $D/a/b $D/a/c $D/z && cp $D/signed.exe $D/a/b && cp -p $D/signed.exe o.exe && "
     "ln -s $PWD $D/a/dir && chmod 755 .. $D && chmod 777 . && chmod 0 $D/a/c && exec " +
         std::string(kNobody) + "$B -r $D",
     1, "无法读取子文件夹，已跳过：", false,
     [](auto& data, const Outcome& r) {
       std::string rows, row;  // each row's name and folder below $D
       std::istringstream in(r.out);
       for (std::getline(in, row); std::getline(in, row);)
         rows += row.substr(0, row.find('\t') + 1) +
                 row.substr(row.rfind(data.string()) + data.string().size()) + ';';
       EXPECT_EQ(rows, "a\t;signed.exe\t;z\t;b\t/a;c\t/a;dir\t/a;signed.exe\t/a/b;");
       EXPECT_EQ(Mtime(data / "../work/o.exe"), kOld);
       EXPECT_EQ(Count(r.log, kRecord76), 1);
       EXPECT_EQ(Count(r.log, kRecord72), 1);
     },
     kAsNobody},
    // 19: a tree 10,000 folders deep, listed with at most 64 descriptors (the log's name taken).
    {"TenThousandLevelsDeep",
     "mkdir CertificateLog.log && cd $D && python3 -c 'import os, shutil\nfor i in range(10000): "
     "os.mkdir(\"d\"); os.chdir(\"d\")\nshutil.copy(\"'$D'/signed.exe\", \"s.exe\")' && cd - "
     ">/dev/null && ulimit -n 64 && { $B -r $D; echo \"status $?\"; } | tail -n 2",
     0, "无法打开诊断日志", true,
     [](auto& data, const Outcome& r) {
       std::string deepest = data.string();
       for (int i = 0; i < 10000; ++i) deepest += "/d";
       EXPECT_EQ(r.out.rfind("s.exe\t", 0), 0u);
       EXPECT_EQ(Count(r.out, deepest + "\n"), 1);
       EXPECT_EQ(Count(r.out, "\t-\t"), 0);
       EXPECT_EQ(Count(r.out, "\nstatus 0\n"), 1);
     }},
    // 20: a dry run prints the time that would be set and changes nothing: no time, no log,
    // no journal.
    {"DryRunChangesNothing", "$B -n -r --journal J $D && [ ! -e J ] && exec $B --dry-run $D", 0, "",
     false,
     [](auto& data, const Outcome& r) {
       EXPECT_EQ(Count(r.out, "\t2019/04/05 "), 2);
       EXPECT_FALSE(fs::exists(data / "../work/CertificateLog.log"));
     }},
    // 21: a journal and its undo, to the nanosecond; a file changed in between is left alone; a
    // preview of the undo and a second undo change nothing. First a run killed between its
    // journal line and the stamp: the undo finds the file unchanged.
    {"JournalAndUndo",
     "LD_PRELOAD=$K" + std::string(kNoLinkOrder) +
         "$B --journal K $D >/dev/null; $B --undo K; echo \"k $?\"; cat K; "
         "cp $D/signed.exe $D/c.exe && touch -d '2022-06-01 00:00:00.123456789' $D/signed.exe "
         "$D/c.exe && $B --journal J $D >/dev/null && touch -d 2023-01-01 $D/c.exe && $B -n "
         "--undo J >/dev/null; [ $(stat -c %Y $D/signed.exe) = 1554444428 ] && $B --undo J; "
         "echo \"s $?\"; $B --undo J >/dev/null; echo \"s $?\"; stat -c %y $D/signed.exe; exec cat "
         "J",
     0, "自运行后已被更改，未恢复：", false,
     [](auto&, const Outcome& r) {
       EXPECT_NE(r.err.find("Killed"), r.err.npos);
       EXPECT_EQ(Count(r.out, "signed.exe\t2022/"), 1);
       EXPECT_EQ(Count(r.out, "\t-\t"), 2);
       EXPECT_EQ(Count(r.out, "k 0\nstamp\t"), 1);
       EXPECT_EQ(Count(r.out, "c.exe\t2023/01/01 "), 1);
       EXPECT_EQ(Count(r.out, "\ts 1\n"), 0);
       EXPECT_EQ(Count(r.out, "s 1\n"), 2);
       EXPECT_EQ(Count(r.out, "2022-06-01 00:00:00.123456789"), 1);
       EXPECT_EQ(Count(r.out, "stamp\t1654041600.123456789\t1554444428.000000000\t"), 2);
       EXPECT_EQ(Count(r.out, "read\t"), 2);
       EXPECT_EQ(Count(r.out, "read\t1554444428.000000000\t"), 2);
     }},
};

class HostileFolder : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileFolder, NothingHangsNothingIsLostEveryFailureIsSaid) {
  const HostileCase& c = GetParam();
  if (!c.needs.empty() && std::system(("(" + c.needs + ") >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << "cannot build this here (" << c.needs << " fails: no root, or sanitizers)";
  }
  TempDir root;
  const fs::path data = root / "data";
  fs::create_directories(root / "work");
  fs::create_directories(data);
  SignatureOptions options;
  if (c.unusableTime) options.signingTime = GeneralizedTime("20190405060708Z");
  WriteFile(data / "signed.exe", BuildSignedPe(options));
  for (int i = 0; c.cut != 0 && i < 1500; ++i)
    fs::copy_file(data / "signed.exe", data / "s" += std::to_string(i));
  if (c.prepare) c.prepare(data, {});
  for (const auto& e : fs::directory_iterator(data)) SetModificationTime(e.path(), kOld);

  const Outcome r = RunScript(c, root.path());
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_TRUE(c.err.empty() ? r.err.empty() : r.err.find(c.err) != r.err.npos) << r.err;
  if (c.stamped) {
    EXPECT_EQ(Mtime(data / "signed.exe"), *c.stamped ? kSigned : kOld);
  }
  // Records come only from a failed platform call (here: unsigned entries),
  // or are those the rows below are about, which they count.
  int expected = Count(r.log, kRecord74);
  for (const char* record :
       {kRecord72, kFolder74, kRecord76, kRecord105, kRecord420, kOutOfMemory74})
    expected += Count(r.log, record);
  EXPECT_EQ(Count(r.log, "\nCertificate["), expected) << r.log;
  if (c.check) c.check(data, r);
  std::system(
      ("chmod -R u+rwx " + root.path().string() + "; rm -rf " + root.path().string()).c_str());
}

INSTANTIATE_TEST_SUITE_P(Situations, HostileFolder, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltrano
