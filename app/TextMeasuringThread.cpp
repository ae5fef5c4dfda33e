#include "app/TextMeasuringThread.h"

#include <iterator>
#include <utility>

namespace {
// Texts queued before the thread is woken for them: it then measures a
// batch at a time instead of waking for every text. A collection wakes it
// for fewer.
constexpr std::size_t kWakeBatch = 16;
// Slots of the thread's memory of extents: the folder of every row and "-"
// come back again and again, as do times many files share.
constexpr std::size_t kRemembered = 1024;
}  // namespace

CTextMeasuringThread::CTextMeasuringThread(MakeMeasure makeMeasure, std::string probe,
                                           TextExtent expected)
    : m_thread([this, makeMeasure = std::move(makeMeasure), probe = std::move(probe), expected] {
        Run(makeMeasure, probe, expected);
      }) {}

CTextMeasuringThread::~CTextMeasuringThread() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_workToDo.notify_one();
  m_thread.join();
}

void CTextMeasuringThread::Add(std::wstring key, std::string utf8) {
  bool wake = false;
  {
    std::lock_guard lock(m_mutex);
    m_incoming.push_back(Text{std::move(key), std::move(utf8), {}});
    ++m_added;
    wake = m_incoming.size() == kWakeBatch;
  }
  if (wake) m_workToDo.notify_one();
}

std::size_t CTextMeasuringThread::Backlog() {
  std::lock_guard lock(m_mutex);
  return m_added;
}

bool CTextMeasuringThread::Collect(std::vector<Text>& measured) {
  measured.clear();
  std::unique_lock lock(m_mutex);
  m_collecting = true;
  m_workToDo.notify_one();
  m_workDone.wait(lock, [this] { return m_failed || m_measured.size() == m_added; });
  m_collecting = false;
  if (m_failed) return false;
  measured.swap(m_measured);
  m_added = 0;
  return true;
}

void CTextMeasuringThread::Run(const MakeMeasure& makeMeasure, const std::string& probe,
                               TextExtent expected) {
  bool measured = false;
  try {
    measured = MeasureUntilStopped(makeMeasure, probe, expected);
  } catch (...) {  // out of memory: the caller measures for itself
  }
  if (measured) return;
  {
    std::lock_guard lock(m_mutex);
    m_failed = true;
  }
  m_workDone.notify_all();
}

bool CTextMeasuringThread::MeasureUntilStopped(const MakeMeasure& makeMeasure,
                                               const std::string& probe, TextExtent expected) {
  // Whatever the measuring function holds is made and destroyed here.
  const Measure measure = makeMeasure();
  if (!measure) return false;
  const TextExtent probed = measure(probe);
  if (probed.cx != expected.cx || probed.cy != expected.cy) return false;
  m_remembered.resize(kRemembered);
  std::vector<Text> batch;
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_workToDo.wait(lock, [this] {
      return m_stop || m_incoming.size() >= kWakeBatch || (m_collecting && !m_incoming.empty());
    });
    if (m_stop) return true;
    batch.swap(m_incoming);
    lock.unlock();
    MeasureBatch(measure, batch);
    lock.lock();
    if (m_measured.empty()) {
      m_measured.swap(batch);
    } else {
      m_measured.insert(m_measured.end(), std::make_move_iterator(batch.begin()),
                        std::make_move_iterator(batch.end()));
    }
    batch.clear();
    if (m_measured.size() == m_added) m_workDone.notify_all();
  }
}

void CTextMeasuringThread::MeasureBatch(const Measure& measure, std::vector<Text>& batch) {
  for (Text& text : batch) {
    Remembered& slot = m_remembered[std::hash<std::string>()(text.utf8) % kRemembered];
    if (!slot.used || slot.utf8 != text.utf8) {
      slot.extent = measure(text.utf8);
      slot.utf8.swap(text.utf8);
      slot.used = true;
    }
    text.extent = slot.extent;
  }
}
