#include "run/RowOutput.h"

#include <iterator>

#include "platform/WideText.h"
#include "run/DialogCore.h"

namespace veltrano {

void FormatRow(const std::vector<std::wstring>& cells, std::string& line) {
  line.clear();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i != 0) line += '\t';
    AppendPercentEscaped(cells[i], line);
  }
}

std::string HeaderRow() {
  std::string header;
  FormatRow({std::begin(kColumnHeaders), std::end(kColumnHeaders)}, header);
  return header;
}

bool PrintLine(std::ostream& out, const std::string& line) {
  out << line << '\n';
  out.flush();
  return out.good();
}

}  // namespace veltrano
