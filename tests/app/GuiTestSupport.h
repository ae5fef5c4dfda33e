// Helpers for driving the real dialogs from tests: the main dialog with its
// seams set for tests, acting inside a modal loop, a guard against a loop
// that never ends, pumping events.
#pragma once

#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/timer.h>
#include <wx/toplevel.h>

#include <functional>
#include <string>
#include <vector>

#include "app/VeltranoDlg.h"

// The main dialog with its list surface exposed and failed time conversions
// collected instead of shown in a message box.
class CTestDlg : public CVeltranoDlg {
 public:
  CTestDlg() {
    SetErrorReporter([this](wxWindow&, const std::wstring& text) { m_errors.push_back(text); });
  }
  IResultListView& View() { return CVeltranoDlg::ResultList(); }
  std::vector<std::wstring> m_errors;
  // Called between the entries of a run, before the dialog's own step.
  std::function<void()> m_betweenEntries;

 protected:
  bool OnEntryDone(BOOL stamped) override {
    if (m_betweenEntries) m_betweenEntries();
    return CVeltranoDlg::OnEntryDone(stamped);
  }
};

// Lets queued events run for about `ms` milliseconds.
void PumpEvents(int ms = 50);

// Sends a button's click as the button itself would.
void ClickButton(wxWindow& parent, int id);

// Sends the Esc key to a dialog as the keyboard would.
void PressEscape(wxWindow& dialog);

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

// A control as a dialog template places it: its id (-1: a static without an
// id of its own), class, text (null: not checked), and place and size in
// dialog units (cx 0: the control's own size, not checked).
struct TemplateControl {
  int id;
  const wxClassInfo* kind;
  const wchar_t* text;
  int x, y, cx, cy;
};

// Checks a dialog's controls, in creation (tab) order, against its template;
// returns them.
std::vector<wxWindow*> ExpectTemplateControls(wxWindow& dialog,
                                              const std::vector<TemplateControl>& expected);

// Saves what the window shows as a PNG file. False when it could not.
bool SaveWindowPng(wxWindow& window, const std::string& path);
