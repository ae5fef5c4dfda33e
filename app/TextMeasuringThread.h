// A thread that measures texts while the thread that hands them over goes on
// with other work; the main dialog's run gives it the texts of its rows while
// it does the file work, and collects their extents before it fits the
// columns.
//
// The program otherwise does everything on one thread. This one is safe
// beside it because all it does is pure computation on copies: it receives
// texts (copied) and a function that builds its own measuring objects on the
// thread itself, and hands back numbers. No object of the toolkit or of the
// calling thread is touched from it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "run/ResultListView.h"

class CTextMeasuringThread {
 public:
  // Measures one UTF-8 text. Made, used and destroyed on the thread.
  using Measure = std::function<TextExtent(const std::string& utf8)>;
  // Called on the thread, once, to make its Measure; an empty result means
  // the thread cannot measure.
  using MakeMeasure = std::function<Measure()>;
  // A text handed over: the caller's key for it, the text in UTF-8 and,
  // once measured, its extent.
  struct Text {
    std::wstring key;
    std::string utf8;
    TextExtent extent;
  };

  // Starts the thread. Before any text it measures `probe`, and the thread
  // counts as failed unless that gives `expected`: a check that it measures
  // as the caller does. Throws std::system_error when no thread can start.
  CTextMeasuringThread(MakeMeasure makeMeasure, std::string probe, TextExtent expected);
  // Stops the thread, dropping the texts not yet measured, and waits for it.
  ~CTextMeasuringThread();
  CTextMeasuringThread(const CTextMeasuringThread&) = delete;
  CTextMeasuringThread& operator=(const CTextMeasuringThread&) = delete;

  // Queues `utf8`, to be measured and collected under `key`.
  void Add(std::wstring key, std::string utf8);
  // Texts added since the last collection.
  std::size_t Backlog();
  // Waits until every text added is measured, then replaces `measured` with
  // them, in the order they were added (their UTF-8 may be gone). False,
  // with `measured` left empty, when the thread failed (it could not make
  // its Measure, the probe differed, or it ran out of memory): nothing it
  // measured is used then.
  bool Collect(std::vector<Text>& measured);

 private:
  void Run(const MakeMeasure& makeMeasure, const std::string& probe, TextExtent expected);
  // Measures what is added until told to stop; false if it cannot measure.
  bool MeasureUntilStopped(const MakeMeasure& makeMeasure, const std::string& probe,
                           TextExtent expected);
  // Measures one batch, sparing texts it measured lately.
  void MeasureBatch(const Measure& measure, std::vector<Text>& batch);

  std::mutex m_mutex;
  std::condition_variable m_workToDo;  // for the thread: texts, a collection or the stop
  std::condition_variable m_workDone;  // for a collection: everything measured, or failed
  std::vector<Text> m_incoming;        // added, not yet taken by the thread
  std::vector<Text> m_measured;        // measured, not yet collected
  std::size_t m_added = 0;             // texts added since the last collection
  bool m_collecting = false;
  bool m_stop = false;
  bool m_failed = false;
  // The thread's own memory of extents, by text (touched by the thread only).
  struct Remembered {
    std::string utf8;
    TextExtent extent;
    bool used = false;
  };
  std::vector<Remembered> m_remembered;
  std::thread m_thread;  // last: starts once everything above exists
};
