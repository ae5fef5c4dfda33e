#include "app/DialogTemplates.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/settings.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/DisplayText.h"
#include "app/ResultListCtrl.h"

namespace {

wxWindow* CreateControl(wxWindow& parent, const ControlTemplate& t, const wxIconBundle& icons) {
  const wxPoint pos = parent.ConvertDialogToPixels(wxPoint(t.x, t.y));
  const wxSize size = parent.ConvertDialogToPixels(wxSize(t.cx, t.cy));
  const wxString text(t.text);
  switch (t.kind) {
    case ControlKind::DefPushButton: {
      auto* button = new wxButton(&parent, t.id, text, pos, size);
      button->SetDefault();
      return button;
    }
    case ControlKind::PushButton:
      return new wxButton(&parent, t.id, text, pos, size);
    case ControlKind::GroupBox:
      // A sibling of the controls drawn over it, as in the template; created
      // before them so they stay on top.
      return new wxStaticBox(&parent, t.id, text, pos, size);
    case ControlKind::ReadOnlyEdit:
      // A single-line text control scrolls long text horizontally on every
      // port (ES_AUTOHSCROLL on Windows, a GtkEntry on GTK).
      return new wxTextCtrl(&parent, t.id, text, pos, size, wxTE_READONLY);
    case ControlKind::Label:
      return new wxStaticText(&parent, t.id, text, pos, size, wxALIGN_LEFT | wxST_NO_AUTORESIZE);
    case ControlKind::NoPrefixLabel: {
      auto* label =
          new wxStaticText(&parent, t.id, wxString(), pos, size, wxALIGN_LEFT | wxST_NO_AUTORESIZE);
      label->SetLabelText(text);  // "&" stays a character
      return label;
    }
    case ControlKind::ReportList:
      // Gridlines and full-row selection are the extended styles that
      // InitResultList sets through the list surface.
      return new CResultListCtrl(&parent, t.id, pos, size,
                                 wxLC_REPORT | wxLC_ALIGN_LEFT | wxLC_NO_SORT_HEADER);
    case ControlKind::Icon: {
      // Like SS_ICON, the control takes the icon's own size.
      int edge = wxSystemSettings::GetMetric(wxSYS_ICON_X, &parent);
      if (edge <= 0) edge = 32;
      const wxIcon icon = icons.GetIcon(wxSize(edge, edge), wxIconBundle::FALLBACK_NEAREST_LARGER);
      return new wxStaticBitmap(&parent, t.id, icon, pos, wxSize(edge, edge));
    }
    case ControlKind::CheckBox:
      return new wxCheckBox(&parent, t.id, text, pos, size);
  }
  return nullptr;
}

}  // namespace

std::vector<wxWindow*> CreateTemplateControls(wxWindow& dialog, const DialogTemplate& tmpl,
                                              const wxIconBundle& icons) {
  dialog.SetClientSize(dialog.ConvertDialogToPixels(wxSize(tmpl.cx, tmpl.cy)));
  std::vector<wxWindow*> controls;
  controls.reserve(tmpl.controls.size());
  for (const ControlTemplate& t : tmpl.controls)
    controls.push_back(CreateControl(dialog, t, icons));
  return controls;
}
