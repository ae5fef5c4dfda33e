// CHeadlessDialog: the main dialog's operations without a window.
#pragma once

#include <string>

#include "run/DialogCore.h"
#include "run/MemoryListView.h"

// The dialog core over an in-memory list, with no buttons or title to show:
// what the headless command runs (and the benchmarks and tests, which may
// override the two hooks to watch them).
class CHeadlessDialog : public CVeltranoDlgCore {
 public:
  CMemoryListView m_list;

 protected:
  IResultListView& ResultList() override { return m_list; }
  void EnableDlgItem(int, bool) override {}
  void SetTitle(const std::wstring&) override {}
};
