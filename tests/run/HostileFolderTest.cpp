// The headless command in folders strangers control, with outputs that fail
// and runs that are cut short: nothing hangs, nothing is lost, every failure
// is said. Each row builds its situation and runs the executable through the
// shell with an alarm set, so a hang fails the row. Rows that need root (mounts,
// another user, device nodes) skip with the reason where the machine cannot
// build the situation.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <set>

#include "tests/run/RunFixture.h"

namespace veltrano {
namespace {
namespace fs = std::filesystem;
using namespace fixtures;

constexpr std::int64_t kSigned = 1554444428;  // the signing time of BuildSignedPe()
const std::int64_t kOld = UtcSeconds(2022, 6, 1);
const Bytes kSignedPe = BuildSignedPe();
constexpr char kAsNobody[] = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
const std::string kNobodyProbe = kAsNobody + std::string(VELTRANO_BATCH_EXE) + " -h >/dev/null";
constexpr char kNobodyMissing[] = "cannot run the executable as another user (needs root)";

struct Scene {
  TempDir work, data, side;  // current directory (the log), walked folder, stderr
  std::string skip;          // why the machine cannot build the row
  std::vector<std::string> mounts;
  int fd = -1;        // a FIFO reader or an inotify watch the row keeps
  bool deep = false;  // the data folder holds paths beyond PATH_MAX

  ~Scene() {
    if (fd >= 0) close(fd);
    for (const std::string& m : mounts) umount2(m.c_str(), MNT_DETACH);
    if (deep) std::system(("rm -rf " + data.path().string()).c_str());
  }
  std::string In(const std::string& name) const { return (data / name).string(); }
  std::string Put(const std::string& name, const Bytes& bytes = kSignedPe) const {
    WriteFile(In(name), bytes);
    EXPECT_TRUE(SetModificationTime(In(name), kOld));
    return In(name);
  }
  void Fill(int count) const {
    for (int i = 0; i < count; ++i) Put("s" + std::to_string(i));
  }
  // The shell command that runs the executable (after `prefix`) with `args`.
  std::string Batch(const std::string& args, const std::string& prefix = "") const {
    return "exec " + prefix + VELTRANO_BATCH_EXE + " " + args + " 2>" + (side / "err").string();
  }
  void Mount(const fs::path& at, const char* options) {
    if (mount("none", at.c_str(), "tmpfs", 0, options) != 0) {
      skip = "cannot mount a tmpfs (needs root)";
    } else {
      mounts.push_back(at);
    }
  }
  void Need(const std::string& probe, const char* reason) {
    if (std::system((probe + " 2>/dev/null").c_str()) != 0) skip = reason;
  }
};

std::int64_t Mtime(const std::string& path) { return testing::StampsOf(path).modification.tv_sec; }
int CountStamped(const Scene& s) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(s.data.path())) n += Mtime(e.path()) == kSigned;
  return n;
}
int CountRows(const std::string& out, const std::string& with = "\n") {
  int n = 0;
  for (std::size_t at = 0; (at = out.find(with, at)) != std::string::npos; at += with.size()) ++n;
  return n;
}
// Rows with a new time (after the header line).
int StampedRows(const std::string& out) { return CountRows(out) - 1 - CountRows(out, "\t-\t"); }

struct Command {
  std::string shell;
  int signalAfterFirstLine = 0;
  bool closeAfterFirstLine = false;
};
struct Outcome {
  int status = -1;
  std::string out, err, log;
};

Outcome RunCommand(Scene& s, const Command& c) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    alarm(60);  // a row that hangs fails instead of holding the suite
    if (chdir(s.work.path().c_str()) == 0) execl("/bin/sh", "sh", "-c", c.shell.c_str(), nullptr);
    _exit(127);
  }
  close(pipeFds[1]);
  Outcome r;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    const bool firstLine = r.out.find('\n') == std::string::npos;
    r.out.append(buffer, static_cast<std::size_t>(n));
    if (!firstLine || r.out.find('\n') == std::string::npos) continue;
    if (c.signalAfterFirstLine != 0) kill(pid, c.signalAfterFirstLine);
    if (c.closeAfterFirstLine) break;
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.err = ReadIfPresent(s.side / "err").value_or("");
  if (fs::is_regular_file(s.work / "CertificateLog.log")) {
    r.log = testing::ReadBytes(s.work / "CertificateLog.log");
  }
  return r;
}

struct HostileCase {
  const char* name;
  std::function<Command(Scene&)> setUp;
  int status = 0;
  std::string err;  // a part of standard error; empty: nothing at all
  std::function<void(Scene&, const Outcome&)> check = [](Scene&, const Outcome&) {};
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

Command Interrupted(Scene& s, int signo) {
  s.Fill(1500);  // more rows than the pipe holds: the run waits for the reader
  return {s.Batch(s.data.path()), signo};
}
void CheckInterrupted(Scene& s, const Outcome& r) {
  // Every file that was changed has its row; the rest were left alone.
  EXPECT_LT(CountRows(r.out), 1500);
  EXPECT_EQ(StampedRows(r.out), CountStamped(s));
}
void CheckStamped(Scene& s, const Outcome&) { EXPECT_EQ(Mtime(s.In("signed.exe")), kSigned); }
void CheckUntouched(Scene& s, const Outcome& r) {
  EXPECT_EQ(Mtime(s.In("signed.exe")), kOld);
  EXPECT_EQ(r.log.find("Certificate["), std::string::npos) << r.log;
}

std::vector<HostileCase> HostileCases() {
  return {
      // 1: the log's name taken by a FIFO: never waited on, never written.
      {"LogIsAFifo",
       [](Scene& s) {
         mkfifo((s.work / "CertificateLog.log").c_str(), 0600);
         s.Put("signed.exe");
         return Command{s.Batch(s.data.path())};
       },
       0, "无法打开诊断日志", CheckStamped},
      {"LogIsAFifoWithAReader",
       [](Scene& s) {
         mkfifo((s.work / "CertificateLog.log").c_str(), 0600);
         s.fd = open((s.work / "CertificateLog.log").c_str(), O_RDONLY | O_NONBLOCK);
         s.Put("signed.exe");
         return Command{s.Batch(s.data.path())};
       },
       0, "无法打开诊断日志",
       [](Scene& s, const Outcome&) {
         char byte;
         EXPECT_LE(read(s.fd, &byte, 1), 0) << "something was written into the FIFO";
       }},
      // 2: only regular files are opened; the others are unsigned entries.
      {"SpecialEntriesAreNeverOpened",
       [](Scene& s) {
         s.Put("signed.exe");
         mkfifo(s.In("fifo").c_str(), 0600);
         mknod(s.In("null").c_str(), S_IFCHR | 0666, makedev(1, 3));
         sockaddr_un address{AF_UNIX, {}};
         std::strncpy(address.sun_path, s.In("sock").c_str(), sizeof address.sun_path - 1);
         const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
         bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
         close(sock);
         s.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
         inotify_add_watch(s.fd, s.data.path().c_str(), IN_OPEN);
         return Command{s.Batch(s.data.path())};
       },
       0, "",
       [](Scene& s, const Outcome& r) {
         std::set<std::string> opened;
         alignas(inotify_event) char events[4096];
         const ssize_t n = read(s.fd, events, sizeof events);
         for (ssize_t at = 0; at < n;) {
           const auto* e = reinterpret_cast<const inotify_event*>(events + at);
           if (e->len > 0) opened.insert(e->name);
           at += static_cast<ssize_t>(sizeof *e + e->len);
         }
         EXPECT_EQ(opened, std::set<std::string>{"signed.exe"});
         for (const char* name : {"fifo", "null", "sock"}) {
           if (!fs::exists(fs::symlink_status(s.In(name)))) continue;
           EXPECT_NE(r.log.find(QueryFailure(s.In(name), kNotSigned)), std::string::npos) << name;
         }
       }},
      // 3: a stop signal lets the current entry finish; every row so far is out.
      {"SigintEndsTheRunAfterTheCurrentEntry", [](Scene& s) { return Interrupted(s, SIGINT); }, 130,
       "收到SIGINT，已在当前条目完成后停止", CheckInterrupted},
      {"SigtermEndsTheRunAfterTheCurrentEntry", [](Scene& s) { return Interrupted(s, SIGTERM); },
       143, "收到SIGTERM，已在当前条目完成后停止", CheckInterrupted},
      // 4: rows that cannot be written stop the run, with status 1.
      {"StandardOutputIsFull",
       [](Scene& s) {
         s.Put("signed.exe");
         return Command{s.Batch(s.data.path().string() + " >/dev/full")};
       },
       1, "无法写出结果，未做任何更改", CheckUntouched},
      {"StandardOutputIsClosed",
       [](Scene& s) {
         s.Put("signed.exe");
         return Command{s.Batch(s.data.path().string() + " >&-")};
       },
       1, "无法写出结果，未做任何更改", CheckUntouched},
      {"TheReaderGoesAway",
       [](Scene& s) {
         s.Fill(1500);
         return Command{s.Batch(s.data.path()), 0, true};
       },
       1, "运行已停止；未能写出的一行：s",
       [](Scene& s, const Outcome&) { EXPECT_LT(CountStamped(s), 1500); }},
      // 5: a folder that cannot be listed is said; one beyond PATH_MAX works.
      {"FolderCannotBeListed",
       [](Scene& s) {
         s.Need(kNobodyProbe, kNobodyMissing);
         chmod(s.data.path().c_str(), 0);
         return Command{s.Batch(s.data.path(), kAsNobody)};
       },
       1, "无法读取文件夹：",
       [](Scene& s, const Outcome& r) {
         EXPECT_NE(r.err.find(s.data.path().string() + "（拒绝访问，错误代码 0x5）"),
                   std::string::npos);
       }},
      {"FolderBeyondPathMax",
       [](Scene& s) {
         s.deep = true;
         const std::string step(200, 'd');
         std::string cd;
         int dir = open(s.data.path().c_str(), O_DIRECTORY);
         for (int i = 0; i < 25; ++i, cd += "cd -P " + step + " && ") {
           mkdirat(dir, step.c_str(), 0755);
           const int next = openat(dir, step.c_str(), O_DIRECTORY);
           close(dir);
           dir = next;
         }
         const int file = openat(dir, "signed.exe", O_WRONLY | O_CREAT, 0644);
         EXPECT_EQ(write(file, kSignedPe.data(), kSignedPe.size()), ssize_t(kSignedPe.size()));
         close(file);
         close(dir);
         return Command{"cd " + s.data.path().string() + " && " + cd + s.Batch(".")};
       },
       0, "",
       [](Scene&, const Outcome& r) {
         EXPECT_EQ(CountRows(r.out, "\nsigned.exe\t"), 1);
         EXPECT_EQ(StampedRows(r.out), 1);
       }},
      // 6: a full disk cuts no record into the next; another process
      // appending all the time never gets between a record's two lines.
      {"LogOnAFullDisk",
       [](Scene& s) {
         s.Mount(s.work.path(), "size=4k");
         WriteFile(s.work / "CertificateLog.log", Bytes(4087, 'x'));
         s.Put("signed.exe");
         return Command{s.Batch(s.data.path())};
       },
       0, "写入失败", CheckStamped},
      {"AnotherWriterKeepsRecordsWhole",
       [](Scene& s) {
         for (int i = 0; i < 40; ++i) s.Put("u" + std::to_string(i), BytesOf("x"));
         return Command{
             std::string("(while :; do echo z; done) >>CertificateLog.log & ") +
             "until [ -s CertificateLog.log ]; do :; done; LD_PRELOAD=" + VELTRANO_SLOW_WRITES +
             " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 " + "timeout 60 " +
             VELTRANO_BATCH_EXE + " " + s.In("") + " >/dev/null; kill $!"};
       },
       0, "",
       [](Scene&, const Outcome& r) {
         EXPECT_EQ(CountRows(r.log, "]:\nCryptQueryObject failed with ErrorCode[0x80092009]\n"),
                   40);
       }},
      // 7: names cannot break a log line or a row.
      {"NamesCannotForgeLines",
       [](Scene& s) {
         s.Put("x\nCertificate[999]:\nCryptDecodeObject failed with ErrorCode[0x0]", BytesOf("x"));
         s.Put("y\r\x1B[2J%", BytesOf("x"));
         return Command{s.Batch(s.data.path())};
       },
       0, "",
       [](Scene& s, const Outcome& r) {
         const std::string x = s.In(
             "x%0ACertificate[999]:%0ACryptDecodeObject failed with "
             "ErrorCode[0x0]");
         EXPECT_EQ(r.log,
                   QueryFailure(x, kNotSigned) + QueryFailure(s.In("y%0D%1B[2J%25"), kNotSigned));
         EXPECT_EQ(CountRows(r.out), 3);
         EXPECT_NE(r.out.find("\ny%0D%1B[2J%25\t"), std::string::npos);
       }},
      // 8: a single file named "*" is that file alone.
      {"AFileNamedStar",
       [](Scene& s) {
         s.Put("*");
         s.Put("signed.exe");
         return Command{s.Batch("'" + s.In("*") + "'")};
       },
       0, "",
       [](Scene& s, const Outcome& r) {
         EXPECT_EQ(CountRows(r.out), 2);
         EXPECT_EQ(Mtime(s.In("*")), kSigned);
         EXPECT_EQ(Mtime(s.In("signed.exe")), kOld);
         EXPECT_EQ(r.log, "Analyze Signed File[" + s.In("*") + "]\n");
       }},
      // 9: stamping needs no /proc: the process's own descriptors there are
      // hidden (all of /proc would also take the sanitizers' view of it).
      {"NoProc",
       [](Scene& s) {
         s.Need("unshare -m true 2>/dev/null", "cannot make a mount namespace (needs root)");
         s.Put("signed.exe");
         return Command{"exec unshare -m sh -c 'mount -t tmpfs none /proc/$$/fd && " +
                        s.Batch(s.data.path()) + "'"};
       },
       0, "", CheckStamped},
      // 10: the open for attribute writing fails before the time is read, so
      // an unusable signing time writes no record where no stamp is possible.
      {"AnotherUsersFile",
       [](Scene& s) {
         s.Need(kNobodyProbe, kNobodyMissing);
         SignatureOptions o;
         o.signingTime = GeneralizedTime("20190405060708Z");
         s.Put("signed.exe", BuildSignedPe(o));
         chmod(s.data.path().c_str(), 0755);
         chmod(s.work.path().c_str(), 0777);
         return Command{s.Batch(s.data.path(), kAsNobody)};
       },
       0, "", CheckUntouched},
      {"ReadOnlyMount",
       [](Scene& s) {
         s.Mount(s.data.path(), "size=1m");
         SignatureOptions o;
         o.signingTime = GeneralizedTime("20190405060708Z");
         s.Put("signed.exe", BuildSignedPe(o));
         if (s.skip.empty() &&
             mount("none", s.data.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
           s.skip = "cannot remount read-only";
         }
         return Command{s.Batch(s.data.path())};
       },
       0, "", CheckUntouched},
      // 12: a log that cannot be opened is said once; results are the same.
      {"LogIsAFolder",
       [](Scene& s) {
         fs::create_directory(s.work / "CertificateLog.log");
         s.Put("signed.exe");
         s.Put("unsigned", BytesOf("x"));
         return Command{s.Batch(s.data.path())};
       },
       0, "无法打开诊断日志",
       [](Scene& s, const Outcome& r) {
         EXPECT_EQ(CountRows(r.err), 1);
         CheckStamped(s, r);
       }},
  };
}

class HostileFolder : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileFolder, NothingHangsNothingIsLostEveryFailureIsSaid) {
  const HostileCase& c = GetParam();
  Scene scene;
  const Command command = c.setUp(scene);
  if (!scene.skip.empty()) GTEST_SKIP() << scene.skip;
  const Outcome r = RunCommand(scene, command);
  EXPECT_EQ(r.status, c.status) << r.err;
  if (c.err.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  c.check(scene, r);
}

INSTANTIATE_TEST_SUITE_P(Situations, HostileFolder, ::testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltrano
