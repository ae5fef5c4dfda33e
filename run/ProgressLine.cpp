#include "run/ProgressLine.h"

namespace veltrano {

void ProgressLine::BeforeRow() {
  if (m_options.rowsOnSameTerminal) Erase();
}

void ProgressLine::Erase() {
  if (m_columns == 0) return;
  m_err << '\r' << std::string(m_columns, ' ') << '\r' << std::flush;
  m_columns = 0;
  m_redraw = true;
}

void ProgressLine::Count(bool stamped) {
  if (!m_options.show) return;
  ++m_done;
  if (stamped) ++m_stamped;
  const auto now = std::chrono::steady_clock::now();
  if (m_redraw || now - m_drawn >= std::chrono::milliseconds(100)) {
    Draw();
    m_drawn = now;
  }
}

void ProgressLine::Finish() {
  if (!m_options.show || m_done == 0) return;
  Draw();
  m_err << '\n' << std::flush;
  m_columns = 0;
}

void ProgressLine::Draw() {
  const std::string text =
      "已处理 " + std::to_string(m_done) + " 个条目，已更改 " + std::to_string(m_stamped) + " 个";
  m_err << '\r' << text << std::flush;
  // ASCII takes one column, each of the (three-byte) Chinese characters two.
  m_columns = 0;
  for (const unsigned char c : text) m_columns += c < 0x80 ? 1 : (c & 0xC0) == 0xC0 ? 2 : 0;
  m_redraw = false;
}

}  // namespace veltrano
