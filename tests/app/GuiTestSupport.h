// Helpers for driving the real dialogs from tests: act inside a modal loop,
// guard against a loop that never ends, pump events.
#pragma once

#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include <functional>
#include <string>

// Lets queued events run for about `ms` milliseconds.
void PumpEvents(int ms = 50);

// Sends a button's click as the button itself would.
void ClickButton(wxWindow& parent, int id);

// Calls `action` (from a timer, so inside whatever modal loop is running) on
// each modal dialog of type T as it appears. Counts the dialogs it saw.
template <class T>
class OnEachModal : public wxTimer {
 public:
  explicit OnEachModal(std::function<void(T&)> action) : m_action(std::move(action)) { Start(20); }
  ~OnEachModal() override { Stop(); }
  int Count() const { return m_count; }

  void Notify() override {
    for (wxWindow* window : wxTopLevelWindows) {
      auto* dialog = dynamic_cast<T*>(window);
      // A dialog this timer has acted on carries its mark (a new dialog may
      // reuse an earlier one's address).
      if (dialog && dialog->IsModal() && dialog->GetClientData() != this) {
        dialog->SetClientData(this);
        ++m_count;
        m_action(*dialog);
        return;
      }
    }
  }

 private:
  std::function<void(T&)> m_action;
  int m_count = 0;
};

// Ends every modal dialog with kGuardCode, and fails the test, if the test is
// still inside a modal loop after `seconds`.
class ModalGuard : public wxTimer {
 public:
  static constexpr int kGuardCode = -4242;
  explicit ModalGuard(int seconds = 15) { StartOnce(seconds * 1000); }
  ~ModalGuard() override { Stop(); }
  void Notify() override;
};

// Saves what the window shows as a PNG file. False when it could not.
bool SaveWindowPng(wxWindow& window, const std::string& path);
