// The headless command against its system-call floor: a program (below) that
// makes only the calls no implementation can avoid, per entry: the folder's
// listing, one status, the log opened for appending, its header line (and the
// record of a file without signature) written and the log closed, the file
// opened, its headers and certificate table read, its time set, and closed.
// "floor+" adds what the behaviour in folders others control requires: the
// log's type check, its lock around each append (taken, the log's end looked
// at under it, released; an open's type check serves as the first look), and
// the row written to standard output.
//
//   scripts/bench.sh [--compare GIT-REF] [--rounds N] [--sizes 1000,10000]
//                    [--kinds mixed,text] [--folders DIR]
//
// builds this program and veltrano-batch optimised and runs
//
//   HeadlessFloorBench [--rounds N] [--sizes N,N] [--kinds K,K] [--folders DIR]
//                      [--recursive FILES] LABEL=VELTRANO-BATCH...
//
// It builds its own folders of each size and kind: "mixed" (the default; of
// every 20 entries: 6 stamped images, 4 unsigned ones, 2 signed without a
// timestamp, 6 text files, 2 subfolders; plus 4 sparse 4 GiB stamped images)
// and "text" (one-line text files with names of 40 bytes). They are made in
// the temporary directory and removed, or with --folders made once under DIR
// and reused by later runs (a million entries take minutes to create). It runs
// each command and the floor over them in turn, alternating, and prints
// medians per entry: wall and processor time, the ratios to the floor and to
// floor+, system calls, bytes read and peak memory; then the system calls of
// one stamped entry by kind and the bytes read per stamped entry from a
// 100 KB and a 4 GiB file. Times per entry leave out the process's start (the
// same command over an empty folder). With --recursive FILES it measures
// instead a recursive run (-r) over FILES mixed entries in folders of 100
// against a flat run over the same files in one folder. It only prints
// figures: nothing passes or fails on them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fixtures/MixedFolder.h"
#include "tests/fixtures/PeBuilder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"

namespace {

namespace fs = std::filesystem;
namespace fx = veltrano::fixtures;

// ---------------------------------------------------------------------------
// The floor

constexpr char kLogName[] = "CertificateLog.log";
constexpr std::size_t kHeadBytes = 512;         // DOS and NT headers
constexpr std::size_t kTableBytes = 64 * 1024;  // the certificate table, at most

std::uint32_t U32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The certificate table's file offset and size from a PE's first bytes, or
// {0, 0}.
std::pair<std::uint32_t, std::uint32_t> CertificateTable(const unsigned char* head, std::size_t n) {
  if (n < 0x40 || head[0] != 'M' || head[1] != 'Z') return {0, 0};
  const std::size_t nt = U32(head + 0x3C);
  if (nt > n || n - nt < 26 || U32(head + nt) != 0x4550) return {0, 0};
  const unsigned magic = head[nt + 24] | head[nt + 25] << 8;
  const std::size_t entry = nt + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8;
  if (entry + 8 > n) return {0, 0};
  return {U32(head + entry), U32(head + entry + 4)};
}

void WriteLog(int log, const std::string& text) {
  if (log >= 0 && write(log, text.data(), text.size()) < 0) std::perror("log");
}

// An append under the log's lock; `look` when the end is looked at under it
// (every append but an open's first, whose type check looked).
void LockedWriteLog(int log, const std::string& text, bool look) {
  struct stat end;
  if (flock(log, LOCK_EX | LOCK_NB) != 0 || (look && fstat(log, &end) != 0)) std::perror("lock");
  WriteLog(log, text);
  flock(log, LOCK_UN);
}

// Stamps the images whose name says they carry a timestamp ("Setup-"); the
// others' log gets the record a file without signature gets. `plus` adds the
// calls the hostile-folder behaviour makes unavoidable as well: the log's
// type check (only a regular file with one name counts as open), its lock
// around each append with a look at the end under it (concurrent runs write
// whole lines), and the row written to standard output as soon as the entry
// is done.
int RunFloor(const char* folder, bool plus) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return 1;
  const timespec signingTime[2] = {{0, UTIME_OMIT}, {fx::UtcSeconds(2019, 4, 5, 6, 7, 8), 0}};
  static unsigned char buffer[kTableBytes];
  while (const dirent* d = readdir(dir)) {
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    struct stat st;
    if (fstatat(dirfd(dir), d->d_name, &st, 0) != 0) continue;
    const int log = open(kLogName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    struct stat logStatus;
    if (plus && (flock(log, LOCK_EX | LOCK_NB) != 0 || fstat(log, &logStatus) != 0)) {
      std::perror("log");
    }
    const std::string header =
        std::string("Analyze Signed File[") + folder + "/" + d->d_name + "]\n";
    WriteLog(log, header);
    if (plus) flock(log, LOCK_UN);
    bool signedImage = false;
    if (S_ISREG(st.st_mode)) {
      const int fd = openat(dirfd(dir), d->d_name, O_RDONLY | O_CLOEXEC | O_NOATIME);
      const ssize_t n = pread(fd, buffer, std::min<std::size_t>(kHeadBytes, st.st_size), 0);
      const auto [offset, size] = CertificateTable(buffer, n < 0 ? 0 : n);
      if (offset != 0 && size != 0) {
        signedImage = pread(fd, buffer, std::min<std::size_t>(kTableBytes, size), offset) > 0;
      }
      if (signedImage && std::strncmp(d->d_name, "Setup-", 6) == 0) {
        futimens(fd, signingTime);
      }
      close(fd);
    }
    if (!signedImage) {
      const std::string record =
          "Certificate[74]:\nCryptQueryObject failed with ErrorCode[0x80092009]\n";
      plus ? LockedWriteLog(log, record, true) : WriteLog(log, record);
    }
    close(log);
    if (plus) {
      const std::string row = std::string(d->d_name) + "\t2024/05/01 12:00:00\t-\t" + folder + "\n";
      if (write(1, row.data(), row.size()) < 0) std::perror("row");
    }
  }
  closedir(dir);
  return 0;
}

// ---------------------------------------------------------------------------
// Folders

void PopulateStamped(const fs::path& dir, int count, std::uint64_t size) {
  for (int i = 0; i < count; ++i) {
    fx::WriteSparseSignedPe(dir / ("Setup-" + std::to_string(i) + ".exe"), size,
                            fx::BuildSignature());
  }
}

// `count` one-line text files with names of 40 bytes, created in an order
// unrelated to their names' (as a folder filled over time is).
void WriteTextFolder(const fs::path& dir, int count) {
  static const char kLine[] = "release notes\n";
  for (int i = 0; i < count; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "text-%08x-release-notes-of-build.txt",
                  static_cast<unsigned>(i) * 2654435761u);
    const int fd = open((dir / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, kLine, sizeof kLine - 1) < 0 || close(fd) != 0) {
      throw std::runtime_error("cannot write " + (dir / name).string());
    }
  }
}

// The folder of `kind` ("mixed" or "text") with `count` entries: under
// `keep`, built once and reused (a marker beside it says it is complete);
// otherwise built under `temp`, for the caller to remove.
fs::path MakeFolder(const std::string& kind, int count, const fs::path& keep,
                    const fs::path& temp) {
  const fs::path dir = (keep.empty() ? temp : keep) / (kind + "-" + std::to_string(count));
  const fs::path done = dir.string() + ".complete";
  if (!keep.empty() && fs::exists(done)) return dir;
  fs::remove_all(dir);
  fs::create_directories(dir);
  if (kind == "text") {
    WriteTextFolder(dir, count);
  } else {
    fx::WriteMixedFolder(dir, count, 4);
  }
  if (!keep.empty()) std::ofstream{done};
  return dir;
}

// ---------------------------------------------------------------------------
// Running a command

struct Command {
  std::string label;
  std::vector<std::string> argv;  // the folder is appended
};

struct Sample {
  double wall = 0;  // seconds
  double cpu = 0;   // user + system seconds
  long peakKiB = 0;
  std::uint64_t bytesRead = 0;
};

std::uint64_t ReadChars(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// Runs argv in `workDir` (where the log goes) with standard output thrown away.
Sample Run(const std::vector<std::string>& argv, const fs::path& workDir) {
  // The log starts empty each time, so that long runs do not fill the disk.
  std::error_code absent;
  fs::resize_file(workDir / kLogName, 0, absent);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (chdir(workDir.c_str()) != 0 || null < 0 || dup2(null, 1) < 0) _exit(127);
    execv(args[0], args.data());
    _exit(127);
  }
  siginfo_t info{};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  Sample s;
  s.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  s.bytesRead = ReadChars(pid);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s ended with status %d\n", argv[0].c_str(), status);
  }
  s.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  s.peakKiB = ru.ru_maxrss;
  return s;
}

// System calls by name, counted by strace over one run.
std::map<std::string, double> CountSystemCalls(const std::vector<std::string>& argv,
                                               const fs::path& workDir) {
  const fs::path out = workDir / "strace.txt";
  std::vector<std::string> traced = {"/usr/bin/strace", "-f", "-c", "-o", out.string(), "--"};
  traced.insert(traced.end(), argv.begin(), argv.end());
  Run(traced, workDir);
  std::map<std::string, double> calls;
  std::ifstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string w; fields >> w;) words.push_back(w);
    // "% time  seconds  usecs/call  calls  [errors]  syscall"
    if (words.size() < 5 || words.back() == "total" || !std::isdigit(words[0][0])) continue;
    calls[words.back()] += std::stod(words[3]);
  }
  fs::remove(out);
  return calls;
}

double Total(const std::map<std::string, double>& calls) {
  double sum = 0;
  for (const auto& [name, n] : calls) sum += n;
  return sum;
}

// (a - b) / n for every name.
std::map<std::string, double> PerEntry(const std::map<std::string, double>& a,
                                       const std::map<std::string, double>& b, int n) {
  std::map<std::string, double> out = a;
  for (const auto& [name, count] : b) out[name] -= count;
  for (auto& [name, count] : out) count /= n;
  return out;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// ---------------------------------------------------------------------------
// The report

std::string MachineLine(const fs::path& dir) {
  std::string model = "unknown processor";
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  utsname u{};
  uname(&u);
  struct statfs sfs {};
  statfs(dir.c_str(), &sfs);
  const char* fsName = sfs.f_type == 0xEF53       ? "ext4"
                       : sfs.f_type == 0x01021994 ? "tmpfs"
                       : sfs.f_type == 0x794C7630 ? "overlayfs"
                       : sfs.f_type == 0x58465342 ? "xfs"
                                                  : "other";
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  char text[512];
  std::snprintf(text, sizeof text, "%s, %ld cores, Linux %s, %s, load average %.2f", model.c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), u.release, fsName, load[0]);
  return text;
}

struct Figures {
  double wall = 0;
  double cpu = 0;
  double calls = 0;
  double bytes = 0;
  long peakKiB = 0;
};

// Times every command and the floor over `data`, alternating, and counts
// their system calls; figures per entry.
std::vector<Figures> MeasureFolder(const std::vector<Command>& commands, const fs::path& data,
                                   const fs::path& empty, const fs::path& work, int entries,
                                   int rounds) {
  const std::size_t n = commands.size();
  std::vector<std::vector<double>> wall(n), cpu(n), wall0(n), cpu0(n);
  std::vector<Sample> last(n), last0(n);
  auto argv = [&](std::size_t i, const fs::path& folder) {
    std::vector<std::string> a = commands[i].argv;
    a.push_back(folder.string());
    return a;
  };
  for (std::size_t i = 0; i < n; ++i) Run(argv(i, data), work);  // warm the caches
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = (k + static_cast<std::size_t>(r)) % n;
      last[i] = Run(argv(i, data), work);
      wall[i].push_back(last[i].wall);
      cpu[i].push_back(last[i].cpu);
      last0[i] = Run(argv(i, empty), work);
      wall0[i].push_back(last0[i].wall);
      cpu0[i].push_back(last0[i].cpu);
    }
  }
  std::vector<Figures> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    out[i].wall = (Median(wall[i]) - Median(wall0[i])) / entries;
    out[i].cpu = (Median(cpu[i]) - Median(cpu0[i])) / entries;
    out[i].bytes = static_cast<double>(last[i].bytesRead - last0[i].bytesRead) / entries;
    out[i].peakKiB = last[i].peakKiB;
    out[i].calls = (Total(CountSystemCalls(argv(i, data), work)) -
                    Total(CountSystemCalls(argv(i, empty), work))) /
                   entries;
  }
  return out;
}

void PrintFolder(const std::vector<Command>& commands, const std::vector<Figures>& figures,
                 int entries, int rounds) {
  const Figures& floor = figures.back();
  const Figures& plus = figures[figures.size() - 2];
  std::printf("\n%d entries (medians of %d alternated runs; per entry)\n", entries, rounds);
  std::printf("  %-10s %9s %9s %8s %8s %8s %8s %9s %11s %10s\n", "", "wall us", "cpu us", "x floor",
              "x floor", "x floor+", "x floor+", "syscalls", "bytes read", "peak KiB");
  std::printf("  %-10s %9s %9s %8s %8s %8s %8s %9s %11s %10s\n", "", "", "", "(wall)", "(cpu)",
              "(wall)", "(cpu)", "", "", "");
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const Figures& f = figures[i];
    std::printf("  %-10s %9.2f %9.2f %8.2f %8.2f %8.2f %8.2f %9.2f %11.0f %10ld\n",
                commands[i].label.c_str(), f.wall * 1e6, f.cpu * 1e6, f.wall / floor.wall,
                f.cpu / floor.cpu, f.wall / plus.wall, f.cpu / plus.cpu, f.calls, f.bytes,
                f.peakKiB);
  }
}

void PrintSignedEntry(const std::vector<Command>& commands, const fs::path& root,
                      const fs::path& work) {
  constexpr int kCount = 100;
  const fs::path one = root / "stamped-100", two = root / "stamped-200", huge = root / "huge-50",
                 small = root / "small-50", empty = root / "empty-signed";
  fs::create_directories(one);
  fs::create_directories(two);
  fs::create_directories(huge);
  fs::create_directories(small);
  fs::create_directories(empty);
  PopulateStamped(one, kCount, 100 * 1024);
  PopulateStamped(two, 2 * kCount, 100 * 1024);
  PopulateStamped(small, 50, 100 * 1024);
  PopulateStamped(huge, 50, 4ULL << 30);

  std::printf("\nOne stamped entry: system calls by kind (difference of 200 and 100 entries)\n");
  for (const Command& c : commands) {
    auto argv = [&](const fs::path& folder) {
      std::vector<std::string> a = c.argv;
      a.push_back(folder.string());
      return a;
    };
    const auto perEntry =
        PerEntry(CountSystemCalls(argv(two), work), CountSystemCalls(argv(one), work), kCount);
    std::printf("  %-10s %5.2f:", c.label.c_str(), Total(perEntry));
    for (const auto& [name, n] : perEntry) {
      if (n > 0.005 || n < -0.005) std::printf(" %s %.2f", name.c_str(), n);
    }
    std::printf("\n");
  }

  std::printf("\nBytes read per stamped entry: 100 KB file, 4 GiB sparse file\n");
  for (const Command& c : commands) {
    auto bytes = [&](const fs::path& folder) {
      std::vector<std::string> a = c.argv;
      a.push_back(folder.string());
      return static_cast<double>(Run(a, work).bytesRead);
    };
    const double base = bytes(empty);
    std::printf("  %-10s %9.0f %9.0f\n", c.label.c_str(), (bytes(small) - base) / 50,
                (bytes(huge) - base) / 50);
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: HeadlessFloorBench [--rounds N] [--sizes N,N] [--kinds mixed,text]\n"
               "                          [--folders DIR] [--recursive FILES]\n"
               "                          LABEL=VELTRANO-BATCH...\n"
               "       HeadlessFloorBench --floor|--floor-plus FOLDER\n"
               "       HeadlessFloorBench --make-folder FOLDER ENTRIES [mixed|text]\n");
  return 2;
}

// Entries per folder of the recursive case's tree.
constexpr int kTreeFolderFiles = 100;

struct Options {
  int rounds = 7;
  std::vector<int> sizes = {1000, 10000};
  std::vector<std::string> kinds = {"mixed"};
  fs::path folders;   // where the folders are kept between runs; none: made and removed
  int recursive = 0;  // files of the recursive case (0: none)
  std::vector<Command> commands;
};

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  std::istringstream in(list);
  for (std::string item; std::getline(in, item, ',');) out.push_back(item);
  return out;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool valued = i + 1 < argc;
    if (arg == "--rounds" && valued) {
      o.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--sizes" && valued) {
      o.sizes.clear();
      for (const std::string& n : Split(argv[++i])) o.sizes.push_back(std::max(20, std::stoi(n)));
    } else if (arg == "--kinds" && valued) {
      o.kinds = Split(argv[++i]);
      for (const std::string& k : o.kinds) {
        if (k != "mixed" && k != "text") return false;
      }
    } else if (arg == "--folders" && valued) {
      o.folders = fs::absolute(argv[++i]);
    } else if (arg == "--recursive" && valued) {
      o.recursive = std::max(0, std::atoi(argv[++i]) / kTreeFolderFiles * kTreeFolderFiles);
    } else if (const std::size_t eq = arg.find('='); eq != std::string::npos && eq > 0) {
      o.commands.push_back({arg.substr(0, eq), {fs::absolute(arg.substr(eq + 1)).string()}});
    } else {
      return false;
    }
  }
  return !o.commands.empty();
}

// The recursive case: FILES mixed entries in folders of kTreeFolderFiles
// under one folder (veltrano-batch -r), against the same files (hard links)
// in one flat folder; per entry (the tree's subfolders' own rows counted),
// medians of alternated runs.

void MeasureRecursive(const Options& o, const fs::path& root, const fs::path& empty,
                      const fs::path& work) {
  const fs::path base = o.folders.empty() ? root : o.folders;
  const fs::path tree = base / ("tree-" + std::to_string(o.recursive));
  const fs::path flat = base / ("flat-" + std::to_string(o.recursive));
  const int folders = o.recursive / kTreeFolderFiles;
  if (!fs::exists(flat.string() + ".complete")) {
    fs::remove_all(tree);
    fs::remove_all(flat);
    fs::create_directories(flat);
    for (int f = 0; f < folders; ++f) {
      const std::string name = "release-" + std::to_string(1000000 + f * 7919 % 1000000);
      fs::create_directories(tree / name);
      fx::WriteMixedFolder(tree / name, kTreeFolderFiles);
      for (const auto& e : fs::directory_iterator(tree / name)) {
        const fs::path twin = flat / (name + "-" + e.path().filename().string());
        if (e.is_directory()) {
          fs::create_directory(twin);
        } else {
          fs::create_hard_link(e.path(), twin);
        }
      }
    }
    std::ofstream{flat.string() + ".complete"};
  }
  std::printf(
      "\n== Recursive: %d entries in %d folders (-r) against the same files in one "
      "folder\n",
      o.recursive, folders);
  std::printf("  %-10s %12s %12s %12s %12s %10s %10s\n", "", "flat wall us", "tree wall us",
              "flat cpu us", "tree cpu us", "x (wall)", "x (cpu)");
  for (const Command& c : o.commands) {
    if (c.label.rfind("floor", 0) == 0) continue;
    auto with = [&](std::vector<std::string> extra, const fs::path& folder) {
      std::vector<std::string> a = c.argv;
      a.insert(a.end(), extra.begin(), extra.end());
      a.push_back(folder.string());
      return a;
    };
    std::vector<double> wall[3], cpu[3];  // flat, tree, empty
    const std::vector<std::string> argv[3] = {with({}, flat), with({"-r"}, tree), with({}, empty)};
    for (int r = 0; r < o.rounds; ++r) {
      for (int k = 0; k < 3; ++k) {
        const Sample sample = Run(argv[(k + r) % 3], work);
        wall[(k + r) % 3].push_back(sample.wall);
        cpu[(k + r) % 3].push_back(sample.cpu);
      }
    }
    const double entries[2] = {static_cast<double>(o.recursive),
                               static_cast<double>(o.recursive + folders)};
    double us[2][2];  // [flat, tree][wall, cpu]
    for (int k = 0; k < 2; ++k) {
      us[k][0] = (Median(wall[k]) - Median(wall[2])) / entries[k] * 1e6;
      us[k][1] = (Median(cpu[k]) - Median(cpu[2])) / entries[k] * 1e6;
    }
    std::printf("  %-10s %12.2f %12.2f %12.2f %12.2f %10.3f %10.3f\n", c.label.c_str(), us[0][0],
                us[1][0], us[0][1], us[1][1], us[1][0] / us[0][0], us[1][1] / us[0][1]);
  }
  if (o.folders.empty()) {
    fs::remove_all(tree);
    fs::remove_all(flat);
  }
}

// Every command over each kind of folder at each size; then the growth of
// peak memory between the smallest and the largest size.
void MeasureFolders(const Options& o, const fs::path& root, const fs::path& empty,
                    const fs::path& work) {
  for (const std::string& kind : o.kinds) {
    std::printf("\n== %s folders\n",
                kind == "text" ? "Text (one-line files, 40-byte names)" : "Mixed");
    std::vector<std::vector<Figures>> bySize;
    for (const int size : o.sizes) {
      const fs::path data = MakeFolder(kind, size, o.folders, root);
      bySize.push_back(MeasureFolder(o.commands, data, empty, work, size, o.rounds));
      PrintFolder(o.commands, bySize.back(), size, o.rounds);
      std::fflush(stdout);
      if (o.folders.empty()) fs::remove_all(data);
    }
    if (o.sizes.size() < 2 || o.sizes.back() <= o.sizes.front()) continue;
    std::printf("\nPeak memory growth per entry from %d to %d entries (bytes)\n", o.sizes.front(),
                o.sizes.back());
    for (std::size_t i = 0; i < o.commands.size(); ++i) {
      const double grown =
          1024.0 * static_cast<double>(bySize.back()[i].peakKiB - bySize.front()[i].peakKiB);
      std::printf("  %-10s %9.1f\n", o.commands[i].label.c_str(),
                  grown / (o.sizes.back() - o.sizes.front()));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--floor") == 0) return RunFloor(argv[2], false);
  if (argc == 3 && std::strcmp(argv[1], "--floor-plus") == 0) return RunFloor(argv[2], true);
  if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--make-folder") == 0) {  // by hand
    fs::create_directories(argv[2]);
    const int count = std::max(20, std::atoi(argv[3]));
    if (argc == 5 && std::strcmp(argv[4], "text") == 0) {
      WriteTextFolder(argv[2], count);
    } else {
      fx::WriteMixedFolder(argv[2], count, 4);
    }
    return 0;
  }

  Options o;
  if (!ParseOptions(argc, argv, o)) return Usage();
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  o.commands.push_back({"floor+", {self, "--floor-plus"}});
  o.commands.push_back({"floor", {self, "--floor"}});

  const fx::TempDir root;
  const fs::path work = root / "work", empty = root / "empty";
  fs::create_directories(work);
  fs::create_directories(empty);
  std::printf("Headless run against the system-call floor\nMachine: %s\n",
              MachineLine(root.path()).c_str());
  std::printf(
      "Folders: mixed ones hold, of every 20 entries, 6 stamped images, 4 unsigned, 2 signed\n"
      "without timestamp, 6 text files, 2 subfolders, and 4 sparse 4 GiB stamped images; text\n"
      "ones hold one-line files with 40-byte names. Times leave out the process's start (the\n"
      "same command over an empty folder). Standard output goes to /dev/null; the log to a\n"
      "folder of its own, emptied before each run. The floor makes only the calls no\n"
      "implementation can avoid (list, status, open, read the headers and the certificate\n"
      "table, set the time, close; the log opened, written and closed per entry); floor+ also\n"
      "those the hostile-folder behaviour requires (the log's type check, its lock around each\n"
      "append with a look at its end, each row written to standard output at once). Ratios\n"
      "are to the floor and to floor+.\n");
  std::fflush(stdout);
  if (o.recursive > 0) {
    MeasureRecursive(o, root.path(), empty, work);
  } else {
    MeasureFolders(o, root.path(), empty, work);
    PrintSignedEntry(o.commands, root.path(), work);
  }
  return 0;
}
