#include "core/compare/compare_link.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace quillet {

namespace {
// A progress bar shows no more than a few hundred distinct positions.
constexpr std::uint32_t kProgressSteps = 512;
// The text grows by pieces of at least this size.
constexpr std::size_t kTextPiece = std::size_t{8} << 20;

std::string Joined(const std::vector<std::string>& pieces) {
  std::size_t size = 0;
  for (const std::string& piece : pieces) size += piece.size();
  std::string text;
  text.reserve(size);
  for (const std::string& piece : pieces) text += piece;
  return text;
}
}  // namespace

CompareWindowLink::~CompareWindowLink() {
  RequestStop();
  if (!m_thread.joinable()) return;
  std::deque<Call> abandoned;
  {
    std::lock_guard lock(m_mutex);
    m_orphaned = true;
    abandoned.swap(m_calls);
  }
  // The handlers belong to a derived object that is gone: release the worker
  // without running them.
  for (Call& call : abandoned)
    if (call.done) call.done->set_value();
  m_thread.join();
}

bool CompareWindowLink::StartWorker(CompareJob job, std::string header) {
  if (m_thread.joinable()) return false;
  m_job = std::move(job);
  {
    std::lock_guard lock(m_mutex);
    m_strText.clear();
    m_strText.push_back(std::move(header));
    m_workerFinished = false;
    m_bStop.store(false, std::memory_order_release);
  }
  try {
    m_thread = std::thread([this] {
      CompareThreadProc(this, m_job);
      {
        std::lock_guard lock(m_mutex);
        m_workerFinished = true;
      }
      m_wake.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  m_running = true;
  return true;
}

std::string CompareWindowLink::Text() const {
  std::lock_guard lock(m_mutex);
  return Joined(m_strText);
}

void CompareWindowLink::RequestStop() {
  // Under the lock, so that an append in progress finishes before the stop and
  // every later one sees it.
  std::lock_guard lock(m_mutex);
  m_bStop.store(true, std::memory_order_release);
}

std::string CompareWindowLink::StopAndTakeText() {
  m_running = false;
  std::lock_guard lock(m_mutex);
  m_bStop.store(true, std::memory_order_release);
  return Joined(m_strText);
}

std::vector<std::string> CompareWindowLink::StopAndMoveText() {
  m_running = false;
  std::lock_guard lock(m_mutex);
  m_bStop.store(true, std::memory_order_release);
  std::vector<std::string> text = std::move(m_strText);
  m_strText.clear();
  return text;
}

void CompareWindowLink::StopAndWait() {
  m_running = false;
  RequestStop();
  if (!m_thread.joinable()) return;
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return !m_calls.empty() || m_workerFinished; });
    if (m_calls.empty()) break;
    Call call = std::move(m_calls.front());
    m_calls.pop_front();
    lock.unlock();
    RunOne(call);
    lock.lock();
  }
  lock.unlock();
  m_thread.join();
}

void CompareWindowLink::RunPendingCalls() {
  for (;;) {
    Call call;
    {
      std::lock_guard lock(m_mutex);
      if (m_calls.empty()) return;
      call = std::move(m_calls.front());
      m_calls.pop_front();
    }
    RunOne(call);
  }
}

void CompareWindowLink::RunOne(Call& call) {
  try {
    call.run();
  } catch (...) {
    if (!call.done) throw;
    call.done->set_exception(std::current_exception());
    return;
  }
  if (call.done) call.done->set_value();
}

bool CompareWindowLink::AppendText(std::string_view lines) {
  std::unique_lock lock(m_mutex);
  if (m_bStop.load(std::memory_order_relaxed)) return false;
  if (m_strText.empty() || m_strText.back().capacity() - m_strText.back().size() < lines.size()) {
    lock.unlock();
    std::string piece;
    piece.reserve(std::max(kTextPiece, lines.size()));
    lock.lock();
    if (m_bStop.load(std::memory_order_relaxed)) return false;
    m_strText.push_back(std::move(piece));
  }
  m_strText.back().append(lines);
  return true;
}

void CompareWindowLink::Enqueue(Call call) {
  {
    std::lock_guard lock(m_mutex);
    if (m_orphaned) {
      if (call.done) call.done->set_value();
      return;
    }
    m_calls.push_back(std::move(call));
  }
  m_wake.notify_all();
  RingDoorbell();
}

void CompareWindowLink::CallAndWait(std::function<void()> run) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  Enqueue(Call{std::move(run), &done});
  finished.get();
}

void CompareWindowLink::SendDiffStart(std::uint32_t length) {
  m_progressStride = length / kProgressSteps + 1;
  m_nextProgress = 0;
  CallAndWait([this, length] {
    if (!StopRequested()) OnDiffStart(length);
  });
}

void CompareWindowLink::PostDiffProgress(std::uint32_t position) {
  if (m_pacing.count() != 0 && ++m_pacedSteps % 64 == 0) std::this_thread::sleep_for(m_pacing);
  if (position < m_nextProgress) return;
  m_nextProgress = std::uint64_t{position} + m_progressStride;
  m_progressPosition.store(position);
  // One waiting call shows whatever position is latest when it runs.
  if (m_progressQueued.exchange(true)) return;
  Enqueue(Call{[this] {
                 m_progressQueued.store(false);
                 if (!StopRequested()) OnDiffProgress(m_progressPosition.load());
               },
               nullptr});
}

void CompareWindowLink::PostReadProgress(std::uint64_t bytesDone, std::uint64_t bytesTotal) {
  if (m_pacing.count() != 0) std::this_thread::sleep_for(m_pacing * 64);
  m_readTotal.store(bytesTotal);
  m_readDone.store(bytesDone);
  if (m_readQueued.exchange(true)) return;
  Enqueue(Call{[this] {
                 m_readQueued.store(false);
                 if (!StopRequested()) OnReadProgress(m_readDone.load(), m_readTotal.load());
               },
               nullptr});
}

void CompareWindowLink::SendDiffDone() {
  CallAndWait([this] {
    if (StopRequested()) return;
    m_running = false;
    OnDiffDone();
  });
}

void CompareWindowLink::ShowErrorBox(const std::string& text) {
  CallAndWait([this, &text] { OnErrorBox(text); });
}

}  // namespace quillet
