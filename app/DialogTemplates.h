// The two dialog templates as data: every control with its id, kind, text and
// rectangle in dialog units, in template order (which is the tab order).
// Both dialogs are built from these tables by CreateTemplateControls.
#pragma once

#include <wx/iconbndl.h>
#include <wx/window.h>

#include <cstddef>
#include <span>
#include <vector>

#include "res/resource.h"
#include "run/DialogCore.h"

// A static control without an id of its own; wx gives it a fresh negative id.
inline constexpr int IDC_STATIC = -1;

enum class ControlKind {
  DefPushButton,  // push button that is the dialog's default button
  PushButton,
  GroupBox,
  ReadOnlyEdit,   // single line, read-only, scrolls horizontally
  Label,          // left-aligned static text, "&" marks an access key
  NoPrefixLabel,  // static text shown exactly as written ("&" included)
  ReportList,     // report-view list, headers that do not sort
  Icon,           // the program's icon at the system icon size
  CheckBox,       // two-state check box, unchecked when created
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const wchar_t* text;
  int x, y, cx, cy;  // dialog units
};

struct DialogTemplate {
  int id;
  const wchar_t* title;
  int cx, cy;  // client area, dialog units
  std::span<const ControlTemplate> controls;
};

// The main dialog's opt-in boxes: "包括 RFC 3161 时间戳" and "包括子文件夹".
inline constexpr int IDC_INCLUDE_RFC3161 = 1006;
inline constexpr int IDC_RECURSIVE = 1007;

// Template 102, the main dialog. The opt-in boxes take a row of their own
// under 更改时间: the 信息 group grows by that row (14 units), and what lies
// below it moves down with the dialog's bottom.
inline constexpr ControlTemplate kMainDialogControls[] = {
    {IDC_EXIT, ControlKind::DefPushButton, L"退出", 259, 192, 50, 14},
    {IDC_SINGLE_FILE, ControlKind::PushButton, L"单个文件", 23, 11, 87, 21},
    {IDC_FOLDER, ControlKind::PushButton, L"文件夹", 23, 50, 87, 21},
    {IDC_STATIC, ControlKind::GroupBox, L"信息", 115, 7, 198, 78},
    {IDC_PATH, ControlKind::ReadOnlyEdit, L"", 120, 33, 189, 16},
    {IDC_STATIC, ControlKind::Label, L"确认路径", 120, 19, 31, 9},
    {IDC_CHANGE_TIME, ControlKind::PushButton, L"更改时间", 259, 54, 50, 14},
    {IDC_INCLUDE_RFC3161, ControlKind::CheckBox, L"包括 RFC 3161 时间戳", 120, 71, 104, 10},
    {IDC_RECURSIVE, ControlKind::CheckBox, L"包括子文件夹", 235, 71, 74, 10},
    {IDC_STATIC, ControlKind::GroupBox, L"处理结果", 7, 88, 306, 102},
    {IDC_RESULT_LIST, ControlKind::ReportList, L"", 7, 99, 306, 91},
    {IDC_ABOUT, ControlKind::PushButton, L"关于", 23, 192, 50, 14},
};
inline constexpr DialogTemplate kMainDialogTemplate{IDD_VELTRANO_DIALOG, L"Veltrano", 320, 214,
                                                    kMainDialogControls};

// Template 100, the About box.
inline constexpr int IDC_ABOUT_OK = 1;  // IDOK
inline constexpr ControlTemplate kAboutDialogControls[] = {
    {IDC_STATIC, ControlKind::Icon, L"", 14, 14, 20, 20},
    {IDC_STATIC, ControlKind::NoPrefixLabel, L"更改文件修改时间为数字签名时间戳 V1.0 版", 42, 14,
     114, 17},
    {IDC_STATIC, ControlKind::Label, L"" VELTRANO_NOTICE, 42, 38, 114, 8},
    {IDC_ABOUT_OK, ControlKind::DefPushButton, L"确定", 117, 52, 50, 14},
};
inline constexpr DialogTemplate kAboutDialogTemplate{IDD_ABOUTBOX, L"关于 本软件", 174, 73,
                                                     kAboutDialogControls};

// Sizes the dialog's client area and creates its controls, in template order,
// at their rectangles converted from dialog units with the dialog's own
// conversion. Returns the controls in the same order.
std::vector<wxWindow*> CreateTemplateControls(wxWindow& dialog, const DialogTemplate& tmpl,
                                              const wxIconBundle& icons);
