#include "core/job/job_link.h"

namespace quillet {

JobLink::JobLink(std::function<void()> doorbell) : m_doorbell(std::move(doorbell)) {}

JobLink::~JobLink() { Close(); }

void JobLink::Enqueue(Call call) {
  bool ring = false;
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
      if (call.done) call.done->set_value();
      return;
    }
    // One ring stands for every call queued after it, until the window has
    // taken them all: a job that queues thousands of calls rings once.
    ring = m_calls.empty();
    m_calls.push_back(std::move(call));
  }
  if (ring && m_doorbell) m_doorbell();
}

void JobLink::CallAndWait(std::function<void()> run) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  Enqueue(Call{std::move(run), &done});
  finished.get();
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

bool JobLink::RunPendingCalls() {
  const auto sliceEnd = std::chrono::steady_clock::now() + kSlice;
  for (;;) {
    Call call;
    {
      std::lock_guard lock(m_mutex);
      if (m_calls.empty()) return false;
      if (std::chrono::steady_clock::now() >= sliceEnd) return true;
      call = std::move(m_calls.front());
      m_calls.pop_front();
    }
    RunOne(call.run, call.done);
  }
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
