// The signals that stop the headless command's run.
#pragma once

namespace veltrano {

// For the length of a run: SIGINT and SIGTERM let the current entry finish
// and then end the walk (unless they were ignored when the run began, as for
// a background job), and a reader that goes away makes a write fail instead
// of ending the process. The handlers in place before are put back at the
// end.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  using Handler = void (*)(int);
  Handler m_previous[3] = {};  // for each signal caught, the handler before
};

// The signal that asked the run to stop since StopSignals were set up, or 0.
int StopSignalReceived();

}  // namespace veltrano
