// The About box (template 100) and the application's start-up.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/config.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <vector>

#include "GuiTestSupport.h"
#include "TestDialogs.h"
#include "app/AboutDlg.h"
#include "app/VeltranoApp.h"

TEST(AboutBox, TemplateControlsTextsAndRectangles) {
  CAboutDlg about;
  EXPECT_EQ(about.GetTitle(), wxString(L"关于 本软件"));
  EXPECT_FALSE(about.HasFlag(wxRESIZE_BORDER));
  EXPECT_EQ(about.GetClientSize(), about.ConvertDialogToPixels(wxSize(174, 73)));

  const std::vector<wxWindow*> c(about.GetChildren().begin(), about.GetChildren().end());
  ASSERT_EQ(c.size(), 4u);
  auto at = [&](int x, int y) { return about.ConvertDialogToPixels(wxPoint(x, y)); };
  auto size = [&](int cx, int cy) { return about.ConvertDialogToPixels(wxSize(cx, cy)); };

  auto* icon = dynamic_cast<wxStaticBitmap*>(c[0]);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->GetPosition(), at(14, 14));
  EXPECT_TRUE(icon->GetBitmap().IsOk());
  EXPECT_EQ(icon->GetSize(), icon->GetBitmap().GetSize());  // the icon's own size

  auto* name = dynamic_cast<wxStaticText*>(c[1]);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->GetLabelText(), wxString(L"更改文件修改时间为数字签名时间戳 V1.0 版"));
  EXPECT_EQ(name->GetRect(), wxRect(at(42, 14), size(114, 17)));

  auto* notice = dynamic_cast<wxStaticText*>(c[2]);
  ASSERT_NE(notice, nullptr);
  EXPECT_FALSE(notice->GetLabelText().empty());
  EXPECT_EQ(notice->GetRect(), wxRect(at(42, 38), size(114, 8)));

  auto* ok = dynamic_cast<wxButton*>(c[3]);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->GetId(), 1);
  EXPECT_EQ(ok->GetLabel(), wxString(L"确定"));
  EXPECT_EQ(ok->GetRect(), wxRect(at(117, 52), size(50, 14)));
  EXPECT_EQ(about.GetDefaultItem(), ok);
}

TEST(AboutBox, OkEscAndCloseBoxAllEndIt) {
  ModalGuard guard;
  const std::function<void(CAboutDlg&)> enders[] = {
      [](CAboutDlg& d) { ClickButton(d, 1); },
      [](CAboutDlg& d) {
        wxKeyEvent esc(wxEVT_CHAR_HOOK);
        esc.m_keyCode = WXK_ESCAPE;
        esc.SetEventObject(&d);
        d.GetEventHandler()->ProcessEvent(esc);
      },
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
  // No configuration object was made, so nothing can be written at exit.
  EXPECT_EQ(wxConfigBase::Get(false), nullptr);
}
