// The change-time run in the real dialog against the same run headless, over
// one folder of mixed entries: stamped, unsigned and timestamp-less signed
// images, text files and subfolders.
//
//   cmake --preset dev -B build/bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANO_WERROR=OFF
//   cmake --build build/bench --target DialogRunBench
//   xvfb-run -a -s "-screen 0 1024x768x24" build/bench/bench/DialogRunBench [entries] [rounds]
//
// Builds the folder (10,000 entries and 5 rounds unless told), then per round
// runs the headless core (the in-memory list of veltrano-batch) and the shown
// dialog (its change-time button, until the final state is painted),
// alternately. Prints each round's wall and processor times (of the whole
// process, and of the dialog's own thread without its measuring thread), the
// medians with their ratios and the dialog's overhead per entry; it never
// passes or fails on them. PAINT_MS=n in the environment sets the dialog's
// paint interval (a large n: no paint until the run ends); MEASURING_THREAD=0
// makes the dialog measure its texts on its own thread. Build it optimised as
// above: a debug build measures the toolkit's debug checks, not the program
// (and optimising brings out compiler warnings that the checked builds gate,
// so they stay warnings here).
#include <wx/app.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/listctrl.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/VeltranoDlg.h"
#include "platform/WideText.h"
#include "run/HeadlessDialog.h"
#include "tests/fixtures/MixedFolder.h"
#include "tests/fixtures/TempDir.h"
#include "tests/fixtures/TestEnv.h"

namespace {

namespace fs = std::filesystem;
namespace fx = veltrano::fixtures;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The log of every run goes to the same place; each run starts without one,
// so both kinds of run append to a file of the same size.
void RemoveLog(const fs::path& work) {
  std::error_code ec;
  fs::remove(work / "CertificateLog.log", ec);
}

struct DialogTimes {
  double handler;  // the button's handler, from click to return
  double painted;  // until the events it left (the final paint) are handled
  double cpu;      // processor time of this process meanwhile, every thread
  double uiCpu;    // processor time of the dialog's thread meanwhile
};

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One press of "更改时间", as the button sends it.
DialogTimes RunDialog(CVeltranoDlg& dlg) {
  wxCommandEvent click(wxEVT_BUTTON, IDC_CHANGE_TIME);
  wxWindow* button = dlg.FindWindow(IDC_CHANGE_TIME);
  click.SetEventObject(button);
  const double cpu = CpuSeconds();
  const double uiCpu = ThreadCpuSeconds();
  const Clock::time_point start = Clock::now();
  button->GetEventHandler()->ProcessEvent(click);
  const Clock::time_point handled = Clock::now();
  wxTheApp->Yield(true);
  dlg.Update();
  const Clock::time_point painted = Clock::now();
  return {Seconds(handled - start), Seconds(painted - start), CpuSeconds() - cpu,
          ThreadCpuSeconds() - uiCpu};
}

struct HeadlessTimes {
  double wall;
  double cpu;
};

HeadlessTimes RunHeadless(CHeadlessDialog& dlg) {
  const double cpu = CpuSeconds();
  const Clock::time_point start = Clock::now();
  dlg.OnBnClickedChangeTime();
  return {Seconds(Clock::now() - start), CpuSeconds() - cpu};
}

int Bench(int entries, int rounds) {
  fx::TempDir data;
  fx::TempDir work;
  fs::current_path(work.path());
  std::printf("building %d entries...\n", entries);
  fx::WriteMixedFolder(data.path(), entries, 0, fx::UtcSeconds(2021, 3, 1));
  const std::wstring folder = veltrano::WideFromBytes(data.path().native());

  CHeadlessDialog headless;
  headless.InitResultList();
  headless.SelectFolder(folder);

  CVeltranoDlg dlg;
  dlg.SetFolderChooser([&folder](wxWindow&) { return std::optional(folder); });
  dlg.Show();
  dlg.OnBnClickedFolder();
  if (const char* ms = std::getenv("PAINT_MS"))
    dlg.SetPaintInterval(std::chrono::milliseconds(std::atoi(ms)));
  const char* thread = std::getenv("MEASURING_THREAD");
  dlg.SetMeasuringThread(!thread || std::atoi(thread) != 0);
  for (int i = 0; i < 20; ++i) {  // let the window map and paint
    wxTheApp->Yield(true);
    wxMilliSleep(10);
  }

  // One of each first: stamps the files and warms the caches.
  RemoveLog(work.path());
  RunHeadless(headless);
  RemoveLog(work.path());
  RunDialog(dlg);

  std::vector<double> headlessTimes, handlerTimes, dialogTimes, headlessCpu, dialogCpu, uiCpu;
  std::printf("%5s %11s %11s %11s %11s %11s %11s %7s\n", "round", "headless s", "headless cpu",
              "handler s", "dialog s", "dialog cpu", "its thread", "ratio");
  for (int r = 0; r < rounds; ++r) {
    RemoveLog(work.path());
    const HeadlessTimes h = RunHeadless(headless);
    RemoveLog(work.path());
    const DialogTimes d = RunDialog(dlg);
    headlessTimes.push_back(h.wall);
    headlessCpu.push_back(h.cpu);
    dialogCpu.push_back(d.cpu);
    uiCpu.push_back(d.uiCpu);
    handlerTimes.push_back(d.handler);
    dialogTimes.push_back(d.painted);
    std::printf("%5d %11.3f %11.3f %11.3f %11.3f %11.3f %11.3f %7.2f\n", r + 1, h.wall, h.cpu,
                d.handler, d.painted, d.cpu, d.uiCpu, d.painted / h.wall);
    std::fflush(stdout);
  }
  const bool sameRows =
      dlg.ListCtrl().GetItemCount() == static_cast<int>(headless.m_list.Rows().size());
  const double mh = Median(headlessTimes);
  const double md = Median(dialogTimes);
  std::printf(
      "median  headless %.3f s (%.1f us/entry)  dialog %.3f s (%.1f us/entry, handler %.3f s)\n",
      mh, mh * 1e6 / entries, md, md * 1e6 / entries, Median(handlerTimes));
  std::printf(
      "dialog/headless %.2f (median of times), %.2f (median of processor times), %.2f (the "
      "dialog's own thread)\n",
      md / mh, Median(dialogCpu) / Median(headlessCpu), Median(uiCpu) / Median(headlessCpu));
  // What the dialog adds to each entry: what it leaves for a faster run.
  std::printf("dialog overhead per entry %.1f us (times), %.1f us (processor times)\n",
              (md - mh) * 1e6 / entries, (Median(dialogCpu) - Median(headlessCpu)) * 1e6 / entries);
  if (!sameRows) std::printf("warning: the dialog and the headless run listed different rows\n");
  dlg.Hide();
  return 0;
}

class CBenchApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(CBenchApp);

int main(int argc, char** argv) {
  const int entries = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  setenv("NO_AT_BRIDGE", "1", 0);  // no accessibility bus under Xvfb
  int noArgs = 1;
  if (!wxEntryStart(noArgs, argv)) {
    std::fprintf(stderr, "cannot start wx: is there a display (DISPLAY, xvfb-run)?\n");
    return 1;
  }
  int result = 1;
  if (wxTheApp->CallOnInit()) {
    wxEventLoop loop;
    wxEventLoopActivator active(&loop);
    result = Bench(entries, rounds);
    wxTheApp->OnExit();
  }
  wxEntryCleanup();
  return result;
}
