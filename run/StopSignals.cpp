#include "run/StopSignals.h"

#include <atomic>
#include <csignal>
#include <iterator>

namespace veltrano {
namespace {

// The signal that asked the run to stop, or 0.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signo) { g_stopSignal = signo; }

struct Caught {
  int signo;
  void (*handler)(int);
};
#ifdef SIGPIPE
const Caught kCaught[] = {{SIGINT, OnStopSignal}, {SIGTERM, OnStopSignal}, {SIGPIPE, SIG_IGN}};
#else
const Caught kCaught[] = {{SIGINT, OnStopSignal}, {SIGTERM, OnStopSignal}};
#endif

}  // namespace

StopSignals::StopSignals() {
  static_assert(std::size(kCaught) <= sizeof m_previous / sizeof m_previous[0]);
  g_stopSignal = 0;
  for (std::size_t i = 0; i < std::size(kCaught); ++i) {
    m_previous[i] = std::signal(kCaught[i].signo, kCaught[i].handler);
    if (m_previous[i] == SIG_IGN) std::signal(kCaught[i].signo, SIG_IGN);
  }
}

StopSignals::~StopSignals() {
  for (std::size_t i = 0; i < std::size(kCaught); ++i) {
    if (m_previous[i] != SIG_ERR) std::signal(kCaught[i].signo, m_previous[i]);
  }
}

int StopSignalReceived() { return g_stopSignal; }

}  // namespace veltrano
