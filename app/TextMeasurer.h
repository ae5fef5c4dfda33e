// Measuring texts for the result list's columns as the toolkit draws them,
// and, during a run, on a thread of its own (CTextMeasuringThread).
#pragma once

#include <wx/dcclient.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/TextMeasuringThread.h"

typedef struct _PangoLayout PangoLayout;

// Measures texts as a fresh client DC of a window does (in the DC's font, the
// window's default one), as long as nothing that decides a text's size
// changes: the window, its font and the screen's resolution.
class CTextMeasurer {
 public:
  explicit CTextMeasurer(wxWindow& window);
  ~CTextMeasurer();
  CTextMeasurer(const CTextMeasurer&) = delete;
  CTextMeasurer& operator=(const CTextMeasurer&) = delete;

  TextExtent Measure(const wxString& text);
  // True when texts are shaped in one layout kept for all of them (GTK 3)
  // rather than through the DC.
  bool KeepsLayout() const { return m_pLayout != nullptr; }

  // Starts a thread that measures the texts handed to Prepare exactly as
  // Measure would (GTK 3, with a kept layout). False when there is none:
  // then Prepare does nothing and every text is measured here.
  bool StartPreparing();
  bool Prepares() const { return m_pPreparing != nullptr; }
  // Hands a text to the thread; it is measured while this thread goes on.
  void Prepare(const wxString& text);
  // Texts prepared and not yet collected.
  std::size_t PreparedBacklog();
  // Waits until the texts prepared so far are measured, to be taken in the
  // order they were prepared. A thread that failed is stopped, and from then
  // on every text is measured here.
  void CollectPrepared();
  // Takes the extent of the next collected text if that is `text` (as the
  // list shows it); null otherwise.
  const TextExtent* TakePrepared(const std::wstring& text);

 private:
  wxClientDC m_dc;
  PangoLayout* m_pLayout = nullptr;
  std::unique_ptr<CTextMeasuringThread> m_pPreparing;
  std::vector<CTextMeasuringThread::Text> m_prepared;
  std::size_t m_nextPrepared = 0;
};
