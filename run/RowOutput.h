// The headless command's rows as lines of text: the cells tab-separated,
// each with every control character and the percent sign percent-escaped, so
// no cell holds a tab or a line break.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace veltrano {

// The row's cells, escaped (AppendPercentEscaped, platform/WideText.h) and
// tab-separated, into `line`, which is emptied first and keeps its room from
// row to row. Path separators stay as they are; undecodable name bytes come
// out as those bytes again.
void FormatRow(const std::vector<std::wstring>& cells, std::string& line);
// The header line: the result list's column headers as a row.
std::string HeaderRow();
// Writes one line and a line break and flushes; false when it did not get out.
bool PrintLine(std::ostream& out, const std::string& line);

}  // namespace veltrano
