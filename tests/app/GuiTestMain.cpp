// main() of the dialog tests: starts wx on the display, turns wx asserts into
// test failures (wx's own handler would open a modal box and hang a headless
// run) and runs the tests inside an active event loop.
#include <gtest/gtest.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/VeltranoApp.h"

namespace {

class CTestApp : public CVeltranoApp {
 public:
  // The tests build their own dialogs; InitInstance is driven by a test.
  bool OnInit() override { return true; }
  int OnRun() override {
    wxEventLoop loop;
    wxEventLoopActivator active(&loop);
    return RUN_ALL_TESTS();
  }
};

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
  ADD_FAILURE_AT(file.utf8_str(), line)
      << "wx assert in " << func << ": " << cond << " " << msg.utf8_str();
}

}  // namespace

// What wxIMPLEMENT_APP would provide, for the test application (which is a
// CVeltranoApp, so wxGetApp keeps its declared type).
CVeltranoApp& wxGetApp() { return *static_cast<CVeltranoApp*>(wxApp::GetInstance()); }
static wxAppConsole* CreateTestApp() { return new CTestApp; }
static wxAppInitializer gTestAppInitializer(CreateTestApp);

// Fontconfig's caches (and whatever GTK and GLib keep for the life of the
// process) are reported as leaks at exit; they are the toolkit's, not ours.
// Only this executable carries these suppressions; every other leak fails.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libgtk-3.so\n"
         "leak:libgdk-3.so\n"
         "leak:libglib-2.0.so\n"
         "leak:libgobject-2.0.so\n"
         "leak:libpango-1.0.so\n";
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest does so while building) needs no display.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

  // The dialog's remembered settings go to a folder of this run's own, never
  // to the user's.
  char configHome[] = "/tmp/veltrano-gui-tests-XXXXXX";
  if (!mkdtemp(configHome)) return 1;
  setenv("XDG_CONFIG_HOME", configHome, 1);
  setenv("NO_AT_BRIDGE", "1", 0);  // no accessibility bus under Xvfb
  // Scroll bars that take their share of the window, as on Windows, rather
  // than GTK's overlay ones, so the tests see the list's client area shrink.
  setenv("GTK_OVERLAY_SCROLLING", "0", 1);
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "cannot start wx: is there a display (DISPLAY, xvfb-run)?\n");
    return 1;
  }
  wxSetAssertHandler(FailOnAssert);
  int result = 1;
  if (wxTheApp->CallOnInit()) {
    result = wxTheApp->OnRun();
    wxTheApp->OnExit();
  }
  wxEntryCleanup();
  std::filesystem::remove_all(configHome);
  return result;
}
