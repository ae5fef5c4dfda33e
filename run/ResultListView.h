// The report-view list as the run and the column fitting see it: a surface
// the dialog supplies (wxWidgets in the program, an in-memory list in the
// headless command and the tests). No toolkit header is needed here.
#pragma once

#include <string>

#include "platform/Win32.h"

// Extended list styles (commctrl.h).
#define LVS_EX_GRIDLINES 0x00000001UL
#define LVS_EX_FULLROWSELECT 0x00000020UL

struct TextExtent {
  int cx = 0;
  int cy = 0;
};

class IResultListView {
 public:
  virtual ~IResultListView() = default;

  // Set-up.
  virtual void SetExtendedStyle(DWORD styles) = 0;
  // Inserts one empty column (no text, width 0) at `index`.
  virtual void InsertColumn(int index) = 0;

  // Rows.
  virtual int GetItemCount() = 0;
  // Inserts a row whose cell 0 is `text`; the new row's index, or -1.
  virtual int InsertItem(int index, const std::wstring& text) = 0;
  virtual void SetItemText(int row, int column, const std::wstring& text) = 0;
  // The cell's whole text; empty for a cell that does not exist.
  virtual std::wstring GetItemText(int row, int column) = 0;
  // Removes every row; columns and their widths stay.
  virtual void DeleteAllItems() = 0;

  // Columns (the header).
  virtual int GetColumnCount() = 0;
  // Header text (left-aligned plain text) together with the column's
  // displayed and remembered width.
  virtual void WriteColumn(int column, const std::wstring& text, int width) = 0;
  // The column's displayed and remembered width, written together.
  virtual void WriteColumnWidth(int column, int width) = 0;
  // The width the program last wrote; never changed by the user dragging a
  // divider. 0 for a column that does not exist.
  virtual int GetRememberedWidth(int column) = 0;
  // The width currently shown (the user may have dragged it).
  virtual int GetDisplayedWidth(int column) = 0;
  // Width of the list's client area: without border and vertical scroll bar.
  virtual int GetClientWidth() = 0;

  // Text extent in pixels in a fresh device context of the header control or
  // of the list control itself.
  enum class Surface { Header, List };
  virtual TextExtent MeasureText(Surface surface, const std::wstring& text) = 0;
  // The extent of a cell's whole text, as MeasureText gives it for
  // GetItemText; a list that holds its texts may measure them in place.
  virtual TextExtent MeasureItemText(Surface surface, int row, int column) {
    return MeasureText(surface, GetItemText(row, column));
  }
};
