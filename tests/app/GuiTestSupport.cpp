#include "GuiTestSupport.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/image.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

void PumpEvents(int ms) {
  const wxLongLong end = wxGetLocalTimeMillis() + ms;
  do {
    wxTheApp->Yield(true);
    wxMilliSleep(5);
  } while (wxGetLocalTimeMillis() < end);
}

void ClickButton(wxWindow& parent, int id) {
  wxWindow* button = parent.FindWindow(id);
  ASSERT_NE(button, nullptr) << "no control " << id;
  wxCommandEvent click(wxEVT_BUTTON, id);
  click.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(click);
}

void PressEscape(wxWindow& dialog) {
  wxKeyEvent esc(wxEVT_CHAR_HOOK);
  esc.m_keyCode = WXK_ESCAPE;
  esc.SetEventObject(&dialog);
  dialog.GetEventHandler()->ProcessEvent(esc);
}

std::vector<wxWindow*> ExpectTemplateControls(wxWindow& dialog,
                                              const std::vector<TemplateControl>& expected) {
  const std::vector<wxWindow*> children(dialog.GetChildren().begin(), dialog.GetChildren().end());
  EXPECT_EQ(children.size(), expected.size());
  for (std::size_t i = 0; i < std::min(children.size(), expected.size()); ++i) {
    const TemplateControl& e = expected[i];
    wxWindow* w = children[i];
    SCOPED_TRACE(testing::Message() << "control " << i + 1 << " " << wxString(e.text));
    EXPECT_TRUE(w->IsKindOf(e.kind));
    EXPECT_TRUE(e.id == -1 ? w->GetId() < 0 : w->GetId() == e.id);  // wx numbers anonymous ones < 0
    const auto* edit = dynamic_cast<wxTextCtrl*>(w);
    if (e.text) {
      EXPECT_EQ(edit ? edit->GetValue() : w->GetLabel(), wxString(e.text));
    }
    EXPECT_EQ(w->GetPosition(), dialog.ConvertDialogToPixels(wxPoint(e.x, e.y)));
    if (e.cx) {
      EXPECT_EQ(w->GetSize(), dialog.ConvertDialogToPixels(wxSize(e.cx, e.cy)));
    }
  }
  return children;
}

void ModalGuard::Notify() {
  for (wxWindow* window : wxTopLevelWindows) {
    auto* dialog = dynamic_cast<wxDialog*>(window);
    if (dialog && dialog->IsModal()) {
      ADD_FAILURE() << "modal dialog '" << dialog->GetTitle() << "' still open: ended by the guard";
      dialog->EndModal(kGuardCode);
    }
  }
}

bool SaveWindowPng(wxWindow& window, const std::string& path) {
  // Read back from the screen what the window shows (X11 keeps no copy of a
  // window's pixels that a client could ask for otherwise).
  const wxRect rect = window.GetScreenRect();
  wxBitmap bitmap(rect.GetSize());
  {
    wxScreenDC screen;
    wxMemoryDC memory(bitmap);
    if (!memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y)) return false;
  }
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  return bitmap.ConvertToImage().SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
}
