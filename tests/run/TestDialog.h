// The dialog core over the in-memory list, recording what it does to the
// buttons and the title.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "run/DialogCore.h"
#include "run/MemoryListView.h"

class CTestDialog : public CVeltranoDlgCore {
 public:
  struct ButtonEvent {
    int id;
    bool enable;
    int rowsThen;  // rows in the list when it happened
    bool operator==(const ButtonEvent&) const = default;
  };

  CMemoryListView m_list;
  std::vector<ButtonEvent> m_buttons;
  std::wstring m_title;

  using CVeltranoDlgCore::ResultList;

 protected:
  IResultListView& ResultList() override { return m_list; }
  void EnableDlgItem(int id, bool enable) override {
    m_buttons.push_back({id, enable, m_list.GetItemCount()});
  }
  void SetTitle(const std::wstring& title) override { m_title = title; }
};
