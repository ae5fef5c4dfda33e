// The main dialog's template, set-up and command routing, on the real window.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <vector>

#include "GuiTestSupport.h"
#include "app/AboutDlg.h"

TEST(MainDialog, ControlsTabOrderAndStylesFollowTemplate102) {
  CTestDlg dlg;
  const std::vector<wxWindow*> children = ExpectTemplateControls(
      dlg, {
               {1, wxCLASSINFO(wxButton), L"退出", 259, 192, 50, 14},
               {1000, wxCLASSINFO(wxButton), L"单个文件", 23, 11, 87, 21},
               {1001, wxCLASSINFO(wxButton), L"文件夹", 23, 50, 87, 21},
               {-1, wxCLASSINFO(wxStaticBox), L"信息", 115, 7, 198, 78},
               {1002, wxCLASSINFO(wxTextCtrl), L"", 120, 33, 189, 16},
               {-1, wxCLASSINFO(wxStaticText), L"确认路径", 120, 19, 31, 9},
               {3, wxCLASSINFO(wxButton), L"更改时间", 259, 54, 50, 14},
               {1006, wxCLASSINFO(wxCheckBox), L"包括 RFC 3161 时间戳", 120, 71, 104, 10},
               {1007, wxCLASSINFO(wxCheckBox), L"包括子文件夹", 235, 71, 74, 10},
               {-1, wxCLASSINFO(wxStaticBox), L"处理结果", 7, 88, 306, 102},
               {1005, wxCLASSINFO(wxListCtrl), L"", 7, 99, 306, 91},
               {2, wxCLASSINFO(wxButton), L"关于", 23, 192, 50, 14},
           });
  std::vector<int> tabStops;
  for (wxWindow* w : children) {
    if (w->CanAcceptFocusFromKeyboard()) tabStops.push_back(w->GetId());
  }
  EXPECT_EQ(tabStops, (std::vector<int>{1, 1000, 1001, 1002, 3, 1006, 1007, 1005, 2}));
  EXPECT_EQ(dlg.GetClientSize(), dlg.ConvertDialogToPixels(wxSize(320, 214)));
  // Off at first; and the labels fit their boxes.
  for (int id : {1006, 1007}) {
    auto* box = static_cast<wxCheckBox*>(dlg.FindWindow(id));
    EXPECT_FALSE(box->GetValue());
    EXPECT_LE(box->GetBestSize().GetWidth(), box->GetSize().GetWidth()) << id;
  }
  EXPECT_EQ(dlg.GetDefaultItem(), dlg.FindWindow(1));
  const long frame = wxRESIZE_BORDER | wxCAPTION | wxSYSTEM_MENU;
  EXPECT_EQ(dlg.GetWindowStyleFlag() & frame, frame);
  EXPECT_FALSE(dlg.HasFlag(wxMINIMIZE_BOX) || dlg.HasFlag(wxMAXIMIZE_BOX));
  EXPECT_FALSE(static_cast<wxTextCtrl*>(dlg.FindWindow(1002))->IsEditable());
  EXPECT_TRUE(dlg.ListCtrl().InReportView() && dlg.ListCtrl().HasFlag(wxLC_NO_SORT_HEADER));
}

TEST(MainDialog, InitialisedBeforeFirstShownWithFocusOnExitAndNoReLayoutOnResize) {
  CTestDlg dlg;
  EXPECT_EQ(dlg.GetTitle(), "Veltrano");
  wxString titleWhenShown;
  dlg.Bind(wxEVT_SHOW, [&](wxShowEvent& e) {
    if (e.IsShown() && titleWhenShown.empty()) titleWhenShown = dlg.GetTitle();
    e.Skip();
  });
  dlg.Show();
  PumpEvents(200);
  EXPECT_EQ(titleWhenShown, wxString(L"更改文件修改时间为数字签名时间戳 V1.0"));
  EXPECT_GE(dlg.GetIcons().GetIconCount(), 5u);
  EXPECT_TRUE(dlg.ListCtrl().HasFlag(wxLC_HRULES) && dlg.ListCtrl().HasFlag(wxLC_VRULES));
  EXPECT_EQ(wxWindow::FindFocus(), dlg.FindWindow(1));

  std::vector<wxRect> before;
  for (wxWindow* w : dlg.GetChildren()) before.push_back(w->GetRect());
  for (const wxSize delta : {wxSize(200, 150), wxSize(-300, -230)}) {
    dlg.SetSize(dlg.GetSize() + delta);
    PumpEvents(100);
  }
  std::vector<wxRect> after;
  for (wxWindow* w : dlg.GetChildren()) after.push_back(w->GetRect());
  EXPECT_EQ(before, after);
  dlg.Hide();
}

TEST(MainDialog, ExitButtonAndEnterEndTheModalDialog) {
  const std::function<void(CTestDlg&)> enders[] = {
      [](CTestDlg& d) { ClickButton(d, 1); },
      [](CTestDlg& d) {
        // Bare Xvfb has no window manager: the keyboard follows the pointer.
        wxUIActionSimulator sim;
        sim.MouseMove(d.FindWindow(1)->GetScreenRect().GetPosition() + wxPoint(5, 5));
        PumpEvents(100);
        sim.Char(WXK_RETURN);  // the focus is on Exit since start-up
      },
  };
  for (const auto& end : enders) {
    CTestDlg dlg;
    ModalGuard guard;
    OnEachModal<CTestDlg> ender(end);
    EXPECT_EQ(dlg.ShowModal(), 1);
  }
}

TEST(MainDialog, EscCloseRequestAboutButtonAndSystemCommandOpenTheAboutBoxOnly) {
  CTestDlg dlg;
  dlg.Show();
  PumpEvents();
  ModalGuard guard;
  OnEachModal<CAboutDlg> closeAbout([&](CAboutDlg& about) { ClickButton(about, 1); });

  PressEscape(dlg);
  EXPECT_EQ(closeAbout.Count(), 1);
  EXPECT_FALSE(dlg.Close());  // what the close box and Alt+F4 send; vetoed
  EXPECT_EQ(closeAbout.Count(), 2);
  ClickButton(dlg, 2);
  EXPECT_EQ(closeAbout.Count(), 3);
  EXPECT_TRUE(dlg.IsShown() && dlg.IsEnabled());

  // The About entry's command, whatever its low four and upper bits; every
  // other system command takes the default path.
  int opened = closeAbout.Count();
  for (unsigned id : {0x001Fu, 0xFFFF0013u, 0x0020u, 0x000Fu, 0xF060u}) {
    const bool about = (id & 0xFFF0) == 0x0010;
    EXPECT_EQ(dlg.OnSysCommand(id, 0), about) << std::hex << id;
    EXPECT_EQ(closeAbout.Count(), opened += about) << std::hex << id;
  }
  dlg.Hide();
}
