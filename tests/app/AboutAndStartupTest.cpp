// The About box (template 100) and the application's start-up.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/config.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <vector>

#include "GuiTestSupport.h"
#include "app/AboutDlg.h"
#include "app/VeltranoApp.h"
#include "app/VeltranoDlg.h"

TEST(AboutBox, FollowsTemplate100AndOkEscOrCloseBoxEndIt) {
  {
    CAboutDlg about;
    EXPECT_EQ(about.GetTitle(), wxString(L"关于 本软件"));
    EXPECT_FALSE(about.HasFlag(wxRESIZE_BORDER));
    EXPECT_EQ(about.GetClientSize(), about.ConvertDialogToPixels(wxSize(174, 73)));
    const std::vector<wxWindow*> c = ExpectTemplateControls(
        about, {
                   {-1, wxCLASSINFO(wxStaticBitmap), nullptr, 14, 14, 0, 0},
                   {-1, wxCLASSINFO(wxStaticText), L"更改文件修改时间为数字签名时间戳 V1.0 版", 42,
                    14, 114, 17},
                   {-1, wxCLASSINFO(wxStaticText), nullptr, 42, 38, 114, 8},
                   {1, wxCLASSINFO(wxButton), L"确定", 117, 52, 50, 14},
               });
    ASSERT_EQ(c.size(), 4u);
    const auto* icon = static_cast<wxStaticBitmap*>(c[0]);
    EXPECT_EQ(icon->GetSize(), icon->GetBitmap().GetSize());
    EXPECT_FALSE(c[2]->GetLabel().empty());  // the notice line
    EXPECT_EQ(about.GetDefaultItem(), c[3]);
  }

  ModalGuard guard;
  const std::function<void(CAboutDlg&)> enders[] = {
      [](CAboutDlg& d) { ClickButton(d, 1); },
      [](CAboutDlg& d) { PressEscape(d); },
      [](CAboutDlg& d) { d.Close(); },
  };
  for (const auto& end : enders) {
    CAboutDlg about;
    OnEachModal<CAboutDlg> ender(end);
    EXPECT_NE(about.ShowModal(), ModalGuard::kGuardCode);
    EXPECT_EQ(ender.Count(), 1);
  }
}

TEST(StartUp, InitInstanceRunsTheDialogAsMainWindowAndReturnsFalseAfterExit) {
  ModalGuard guard;
  bool dialogIsTopWindow = false;
  OnEachModal<CVeltranoDlg> pressExit([&](CVeltranoDlg& d) {
    dialogIsTopWindow = wxTheApp->GetTopWindow() == &d;
    ClickButton(d, 1);
  });
  EXPECT_EQ(wxGetApp().InitInstance(), FALSE);
  EXPECT_EQ(pressExit.Count(), 1);
  EXPECT_TRUE(dialogIsTopWindow);
  EXPECT_EQ(wxConfigBase::Get(false), nullptr);  // the settings store closed with the dialog
}
