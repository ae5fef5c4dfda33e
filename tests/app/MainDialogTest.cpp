// The main dialog's template, set-up and command routing, on the real window.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <vector>

#include "GuiTestSupport.h"
#include "TestDialogs.h"
#include "app/AboutDlg.h"

namespace {

enum class Kind { Button, GroupBox, Edit, Label, List };

struct ExpectedControl {
  int id;  // -1: a static without an id of its own
  Kind kind;
  const wchar_t* text;
  int x, y, cx, cy;  // dialog units
};

// Template 102 in template order.
const ExpectedControl kExpected[] = {
    {1, Kind::Button, L"退出", 259, 178, 50, 14},
    {1000, Kind::Button, L"单个文件", 23, 11, 87, 21},
    {1001, Kind::Button, L"文件夹", 23, 50, 87, 21},
    {-1, Kind::GroupBox, L"信息", 115, 7, 198, 64},
    {1002, Kind::Edit, L"", 120, 33, 189, 16},
    {-1, Kind::Label, L"确认路径", 120, 19, 31, 9},
    {3, Kind::Button, L"更改时间", 259, 54, 50, 14},
    {-1, Kind::GroupBox, L"处理结果", 7, 74, 306, 102},
    {1005, Kind::List, L"", 7, 85, 306, 91},
    {2, Kind::Button, L"关于", 23, 178, 50, 14},
};

bool IsKind(wxWindow* w, Kind kind) {
  switch (kind) {
    case Kind::Button:
      return dynamic_cast<wxButton*>(w) != nullptr;
    case Kind::GroupBox:
      return dynamic_cast<wxStaticBox*>(w) != nullptr;
    case Kind::Edit:
      return dynamic_cast<wxTextCtrl*>(w) != nullptr;
    case Kind::Label:
      return dynamic_cast<wxStaticText*>(w) != nullptr;
    case Kind::List:
      return dynamic_cast<wxListCtrl*>(w) != nullptr;
  }
  return false;
}

std::vector<wxWindow*> Children(wxWindow& parent) {
  return {parent.GetChildren().begin(), parent.GetChildren().end()};
}

}  // namespace

TEST(MainDialog, ControlsHaveTheirIdsTextsAndDialogUnitRectanglesInTemplateOrder) {
  CTestDlg dlg;
  const std::vector<wxWindow*> children = Children(dlg);
  ASSERT_EQ(children.size(), std::size(kExpected));
  for (std::size_t i = 0; i < children.size(); ++i) {
    const ExpectedControl& e = kExpected[i];
    wxWindow* w = children[i];
    SCOPED_TRACE(testing::Message() << "control " << i + 1 << " " << wxString(e.text));
    EXPECT_TRUE(IsKind(w, e.kind));
    if (e.id == -1) {
      EXPECT_LT(w->GetId(), 0);  // wx's own ids for anonymous controls are negative
    } else {
      EXPECT_EQ(w->GetId(), e.id);
    }
    const wxString text =
        e.kind == Kind::Edit ? static_cast<wxTextCtrl*>(w)->GetValue() : w->GetLabel();
    EXPECT_EQ(text, wxString(e.text));
    EXPECT_EQ(w->GetPosition(), dlg.ConvertDialogToPixels(wxPoint(e.x, e.y)));
    EXPECT_EQ(w->GetSize(), dlg.ConvertDialogToPixels(wxSize(e.cx, e.cy)));
  }
  EXPECT_EQ(dlg.GetClientSize(), dlg.ConvertDialogToPixels(wxSize(320, 200)));
}

TEST(MainDialog, TabOrderIsTemplateOrderAndExitIsTheDefaultButton) {
  CTestDlg dlg;
  std::vector<int> tabStops;
  for (wxWindow* w : Children(dlg)) {
    if (w->CanAcceptFocusFromKeyboard()) tabStops.push_back(w->GetId());
  }
  EXPECT_EQ(tabStops, (std::vector<int>{1, 1000, 1001, 1002, 3, 1005, 2}));
  EXPECT_EQ(dlg.GetDefaultItem(), dlg.FindWindow(1));
}

TEST(MainDialog, StylesThatMatter) {
  CTestDlg dlg;
  EXPECT_TRUE(dlg.HasFlag(wxRESIZE_BORDER));
  EXPECT_TRUE(dlg.HasFlag(wxCAPTION));
  EXPECT_TRUE(dlg.HasFlag(wxSYSTEM_MENU));
  EXPECT_FALSE(dlg.HasFlag(wxMINIMIZE_BOX));
  EXPECT_FALSE(dlg.HasFlag(wxMAXIMIZE_BOX));
  EXPECT_EQ(dlg.GetParent(), nullptr);

  auto* edit = static_cast<wxTextCtrl*>(dlg.FindWindow(1002));
  EXPECT_FALSE(edit->IsEditable());
  EXPECT_FALSE(edit->IsMultiLine());

  wxListCtrl& list = dlg.ListCtrl();
  EXPECT_TRUE(list.InReportView());
  EXPECT_TRUE(list.HasFlag(wxLC_NO_SORT_HEADER));
}

TEST(MainDialog, InitialisationBeforeFirstShownSetsTitleIconsListAndFocusOnExit) {
  CTestDlg dlg;
  EXPECT_EQ(dlg.GetTitle(), "Veltrano");
  wxString titleWhenShown;
  int columnsWhenShown = -1;
  dlg.Bind(wxEVT_SHOW, [&](wxShowEvent& e) {
    if (e.IsShown() && titleWhenShown.empty()) {
      titleWhenShown = dlg.GetTitle();
      columnsWhenShown = dlg.ListCtrl().GetColumnCount();
    }
    e.Skip();
  });
  dlg.Show();
  PumpEvents(200);
  EXPECT_EQ(titleWhenShown, wxString(L"更改文件修改时间为数字签名时间戳 V1.0"));
  EXPECT_EQ(columnsWhenShown, 4);
  EXPECT_TRUE(dlg.GetIcons().GetIconCount() >= 5);
  EXPECT_TRUE(dlg.ListCtrl().HasFlag(wxLC_HRULES) && dlg.ListCtrl().HasFlag(wxLC_VRULES));
  EXPECT_EQ(wxWindow::FindFocus(), dlg.FindWindow(1));
  dlg.Hide();
}

TEST(MainDialog, ResizingTheFrameMovesNoControl) {
  CTestDlg dlg;
  dlg.Show();
  PumpEvents();
  std::vector<wxRect> before;
  for (wxWindow* w : Children(dlg)) before.push_back(w->GetRect());
  const wxSize size = dlg.GetSize();
  dlg.SetSize(size.x + 200, size.y + 150);
  PumpEvents(100);
  dlg.SetSize(size.x - 100, size.y - 80);
  PumpEvents(100);
  std::vector<wxRect> after;
  for (wxWindow* w : Children(dlg)) after.push_back(w->GetRect());
  EXPECT_EQ(before, after);
  dlg.Hide();
}

TEST(MainDialog, ExitEndsTheModalDialogWithItsId) {
  CTestDlg dlg;
  ModalGuard guard;
  OnEachModal<CTestDlg> pressExit([](CTestDlg& d) { ClickButton(d, 1); });
  EXPECT_EQ(dlg.ShowModal(), 1);
}

TEST(MainDialog, EnterOnTheFocusedExitButtonEndsTheDialog) {
  CTestDlg dlg;
  ModalGuard guard;
  OnEachModal<CTestDlg> pressEnter([](CTestDlg& d) {
    // Bare Xvfb has no window manager: the keyboard follows the pointer.
    wxWindow* exit = d.FindWindow(1);
    wxUIActionSimulator sim;
    sim.MouseMove(exit->GetScreenRect().GetPosition() + wxPoint(5, 5));
    PumpEvents(100);
    exit->SetFocus();
    PumpEvents(100);
    sim.Char(WXK_RETURN);
  });
  EXPECT_EQ(dlg.ShowModal(), 1);
}

TEST(MainDialog, EscCloseRequestAndAboutButtonOpenTheAboutBoxAndLeaveTheDialogOpen) {
  CTestDlg dlg;
  dlg.Show();
  PumpEvents();
  ModalGuard guard;
  OnEachModal<CAboutDlg> closeAbout([&](CAboutDlg& about) { ClickButton(about, 1); });

  wxKeyEvent esc(wxEVT_CHAR_HOOK);
  esc.m_keyCode = WXK_ESCAPE;
  esc.SetEventObject(&dlg);
  dlg.GetEventHandler()->ProcessEvent(esc);
  EXPECT_EQ(closeAbout.Count(), 1);

  EXPECT_FALSE(dlg.Close());  // what the close box and Alt+F4 send; vetoed
  EXPECT_EQ(closeAbout.Count(), 2);

  ClickButton(dlg, 2);
  EXPECT_EQ(closeAbout.Count(), 3);

  EXPECT_TRUE(dlg.IsShown());
  EXPECT_TRUE(dlg.IsEnabled());
  dlg.Hide();
}

TEST(MainDialog, OnlyTheAboutSystemCommandOpensTheAboutBox) {
  CTestDlg dlg;
  ModalGuard guard;
  OnEachModal<CAboutDlg> closeAbout([](CAboutDlg& about) { ClickButton(about, 1); });
  struct Case {
    unsigned int id;
    bool about;
  };
  const Case cases[] = {
      {0x0010, true},      // the entry's own id
      {0x001F, true},      // low four bits are ignored
      {0xFFFF0013, true},  // so are the upper bits
      {0x0020, false},     // the next command
      {0x000F, false},     //
      {0xF060, false},     // SC_CLOSE: default path
      {0xF020, false},     // SC_MINIMIZE
  };
  int expectedOpen = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(dlg.OnSysCommand(c.id, 0), c.about) << std::hex << c.id;
    if (c.about) ++expectedOpen;
    EXPECT_EQ(closeAbout.Count(), expectedOpen) << std::hex << c.id;
  }
}

TEST(MainDialog, MinimisedIconIsCentredWithTruncatingDivision) {
  struct Case {
    wxSize client, icon;
    wxPoint at;
  };
  const Case cases[] = {
      {{100, 50}, {32, 32}, {34, 9}},
      {{0, 0}, {32, 32}, {-15, -15}},  // truncated toward zero, not floored to -16
      {{31, 1}, {32, 32}, {0, -15}},
  };
  for (const Case& c : cases) EXPECT_EQ(IconDrawPosition(c.client, c.icon), c.at);
}
