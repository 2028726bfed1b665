#include "core/job/job_link.h"

namespace quillet {

JobLink::JobLink(std::function<void()> doorbell) : m_doorbell(std::move(doorbell)) {}

JobLink::~JobLink() { Close(); }

void JobLink::Enqueue(Call call) {
  bool wake = true;
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
      if (call.done) call.done->set_value();
      return;
    }
    // A caller in RunUntilDone looks at the queue often enough on its own:
    // woken for every posted call, it would cost the job a wake-up (and the
    // two threads a hand-over of the lock) per event, doubling a short job's
    // time. A job waiting for its call must not wait for the next look.
    wake = !m_polling || call.done != nullptr;
    m_calls.push_back(std::move(call));
  }
  if (wake) m_wake.notify_all();
  if (m_doorbell) m_doorbell();
}

void JobLink::CallAndWait(std::function<void()> run) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  Enqueue(Call{std::move(run), &done});
  finished.get();
}

void JobLink::Finished() {
  {
    std::lock_guard lock(m_mutex);
    m_workerFinished = true;
  }
  m_wake.notify_all();
}

void JobLink::Join() {
  if (m_hThread.joinable()) m_hThread.join();
}

namespace {
void RunOne(std::function<void()>& run, std::promise<void>* done) {
  try {
    run();
  } catch (...) {
    if (done == nullptr) throw;
    done->set_exception(std::current_exception());
    return;
  }
  if (done != nullptr) done->set_value();
}
}  // namespace

void JobLink::RunPendingCalls() {
  for (;;) {
    Call call;
    {
      std::lock_guard lock(m_mutex);
      if (m_calls.empty()) return;
      call = std::move(m_calls.front());
      m_calls.pop_front();
    }
    RunOne(call.run, call.done);
  }
}

void JobLink::RunUntilDone() {
  if (!m_hThread.joinable()) return;
  std::unique_lock lock(m_mutex);
  m_polling = true;
  for (;;) {
    m_wake.wait_for(lock, kPollInterval, [this] { return !m_calls.empty() || m_workerFinished; });
    if (m_calls.empty()) {
      if (m_workerFinished) break;
      continue;
    }
    Call call = std::move(m_calls.front());
    m_calls.pop_front();
    lock.unlock();
    RunOne(call.run, call.done);
    lock.lock();
  }
  m_polling = false;
  lock.unlock();
  Join();
}

void JobLink::Close() {
  RequestStop();
  std::deque<Call> abandoned;
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    abandoned.swap(m_calls);
  }
  // The window's handlers may be gone already: release the job without running them.
  for (Call& call : abandoned)
    if (call.done) call.done->set_value();
  m_busy = false;
  Join();
}

}  // namespace quillet
