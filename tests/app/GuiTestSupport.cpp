#include "GuiTestSupport.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/image.h>
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
