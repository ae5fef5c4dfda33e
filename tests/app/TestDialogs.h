// The main dialog as the tests use it: the list surface exposed, failed time
// conversions collected instead of shown in a message box.
#pragma once

#include <string>
#include <vector>

#include "app/VeltranoDlg.h"

class CTestDlg : public CVeltranoDlg {
 public:
  CTestDlg() {
    SetErrorReporter([this](wxWindow&, const std::wstring& text) { m_errors.push_back(text); });
  }
  IResultListView& View() { return CVeltranoDlg::ResultList(); }
  std::vector<std::wstring> m_errors;
};
