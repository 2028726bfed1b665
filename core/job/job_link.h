#pragma once
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>

#include "core/job/job.h"

namespace quillet {

// Carries one job at a time from its own thread to the window's thread, free
// of any toolkit. The window builds the job's sink from its own handlers with
// Posted, Sent and Latest; each of those, called on the job's thread, queues a
// call under the link's one mutex and rings the doorbell, and the window's
// thread runs the queue in RunPendingCalls(). Handing the work over through a
// toolkit's queue instead would hide it from the thread sanitizer.
//
// Guarantees:
// - Calls run on the window's thread, in the order the job made them; the
//   job's done call comes last.
// - The window's thread is held for kSlice at most at a time, however fast
//   the job queues its calls.
// - Latest never makes the job wait: only the newest arguments are kept, and at
//   most one such call waits in the queue.
// - A stop is only asked for: the job ends at its next poll, and its done call
//   ends the run, as when it finishes.
// - Close() releases the job's calls while they wait, so a job waiting in a
//   Sent call can't deadlock a window that waits for it; after Close() no
//   call reaches the window again.
//
// A caller with no window to keep answering (the command line) needs no link:
// it runs the job on its own thread, with a sink that calls its handlers.
class JobLink {
 public:
  // doorbell: called on any thread when the first call is queued; asks the
  // window's thread to call RunPendingCalls() soon. It must not run the calls
  // itself.
  explicit JobLink(std::function<void()> doorbell);
  JobLink(const JobLink&) = delete;
  JobLink& operator=(const JobLink&) = delete;
  ~JobLink();  // Close()

  // Window thread. Runs work on a thread of its own, and then done with its
  // outcome on the window's thread. False when a job is still running or no
  // thread could be had: the job never begins then.
  template <typename Outcome>
  bool Start(std::type_identity_t<std::function<Outcome(StopToken)>> work,
             std::type_identity_t<std::function<void(Outcome&)>> done);

  // m_bStop: the job sees it at its next poll. Any thread.
  void RequestStop() { m_bStop.store(true, std::memory_order_release); }
  [[nodiscard]] bool StopRequested() const { return m_bStop.load(std::memory_order_acquire); }
  // True from a start until its done call has run, or the link was closed.
  [[nodiscard]] bool Busy() const { return m_busy; }

  // Window thread: runs the calls queued so far, for kSlice at most. True
  // when calls are left: no ring comes for them, so the window comes back
  // for them itself, once its own events (input, painting, timers) have had
  // their turn.
  static constexpr std::chrono::milliseconds kSlice{20};
  bool RunPendingCalls();
  // Window thread: the window is going. Stops the job, releases it from every
  // call without running any, and joins its thread.
  void Close();

  // A call of fn on the window's thread for every call on the job's; the job
  // goes on at once.
  template <typename... Args>
  std::function<void(Args...)> Posted(std::type_identity_t<std::function<void(Args...)>> fn);
  // The same, but the job waits until fn has run (or the link was closed).
  template <typename... Args>
  std::function<void(Args...)> Sent(std::type_identity_t<std::function<void(Args...)>> fn);
  // A call of fn with the newest arguments: for progress, which must never
  // hold the job up.
  template <typename... Args>
  std::function<void(Args...)> Latest(std::type_identity_t<std::function<void(Args...)>> fn);

 private:
  struct Call {
    std::function<void()> run;
    std::promise<void>* done = nullptr;  // the waiting job's, or null for a posted call
  };

  void Enqueue(Call call);
  void CallAndWait(std::function<void()> run);
  void Join();

  std::function<void()> m_doorbell;
  mutable std::mutex m_mutex;
  std::deque<Call> m_calls;  // guarded by m_mutex
  bool m_closed = false;     // guarded by m_mutex: no call runs any more
  std::atomic<bool> m_bStop{false};
  bool m_busy = false;  // window thread only
  std::thread m_hThread;
};

template <typename Outcome>
bool JobLink::Start(std::type_identity_t<std::function<Outcome(StopToken)>> work,
                    std::type_identity_t<std::function<void(Outcome&)>> done) {
  if (m_busy) return false;
  Join();  // the previous job's thread, whose done call has run
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) return false;
  }
  m_bStop.store(false, std::memory_order_release);
  try {
    m_hThread = std::thread([this, work = std::move(work), done = std::move(done)]() mutable {
      Outcome outcome = work(StopToken(m_bStop));
      CallAndWait([this, &done, &outcome] {
        m_busy = false;
        done(outcome);
      });
    });
  } catch (const std::system_error&) {
    return false;
  }
  m_busy = true;
  return true;
}

template <typename... Args>
std::function<void(Args...)> JobLink::Posted(std::type_identity_t<std::function<void(Args...)>> fn) {
  // Moved, not copied, on the way: a batch of lines may be megabytes.
  return [this, fn = std::move(fn)](Args... args) {
    Enqueue(Call{[fn, kept = std::make_tuple(std::decay_t<Args>(std::move(args))...)]() mutable {
                   std::apply(fn, std::move(kept));
                 },
                 nullptr});
  };
}

template <typename... Args>
std::function<void(Args...)> JobLink::Sent(std::type_identity_t<std::function<void(Args...)>> fn) {
  return [this, fn = std::move(fn)](Args... args) { CallAndWait([&fn, &args...] { fn(args...); }); };
}

template <typename... Args>
std::function<void(Args...)> JobLink::Latest(std::type_identity_t<std::function<void(Args...)>> fn) {
  struct Slot {
    std::function<void(Args...)> fn;
    std::mutex mutex;
    std::optional<std::tuple<std::decay_t<Args>...>> newest;  // guarded by mutex; set while a call is queued
  };
  auto slot = std::make_shared<Slot>();
  slot->fn = std::move(fn);
  return [this, slot](Args... args) {
    {
      std::lock_guard lock(slot->mutex);
      const bool queued = slot->newest.has_value();
      slot->newest.emplace(args...);
      if (queued) return;
    }
    Enqueue(Call{[slot] {
                   std::optional<std::tuple<std::decay_t<Args>...>> taken;
                   {
                     std::lock_guard lock(slot->mutex);
                     taken.swap(slot->newest);
                   }
                   if (taken) std::apply(slot->fn, *taken);
                 },
                 nullptr});
  };
}

}  // namespace quillet
