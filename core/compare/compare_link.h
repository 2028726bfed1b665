#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/compare/compare_worker.h"

namespace quillet {

// The window side of the worker protocol, free of any toolkit: the text and the
// stop flag under one lock, the worker's thread, and the worker's calls carried
// over to the window's thread. A window derives from it, implements the four
// handlers and the doorbell, and calls RunPendingCalls() when the doorbell rings.
//
// Guarantees:
// - Once StopAndTakeText() has returned, the worker appends nothing more.
// - The worker's calls run on the window's thread, in order. Start, progress
//   and done are dropped once a stop was requested (the window has ended the
//   run itself); an error box is still shown.
// - StopAndWait() runs the worker's calls while it waits, so a worker waiting in
//   a call can't deadlock a window that waits for the worker.
// - Progress never makes the worker wait: only the latest position is kept, and
//   at most one progress call waits for the window at a time.
class CompareWindowLink : public ICompareWindow {
 public:
  CompareWindowLink() = default;
  CompareWindowLink(const CompareWindowLink&) = delete;
  CompareWindowLink& operator=(const CompareWindowLink&) = delete;
  // A derived window must call StopAndWait() in its own destructor: the worker
  // calls the doorbell and the handlers are the derived object's. What is done
  // here is a last resort that keeps a forgotten wait from ending the process:
  // the worker is released from its pending calls without running them.
  ~CompareWindowLink() override;

  // Window thread. Keeps the job, sets m_strText = header and m_bStop = 0, and
  // starts the worker. False if the thread could not be started (the run never begins).
  bool StartWorker(CompareJob job, std::string header);
  // True from a successful start until the run has ended (done, or stopped).
  [[nodiscard]] bool Running() const { return m_running; }
  // m_strText as it stands.
  [[nodiscard]] std::string Text() const;
  // The stop button: requests the stop and ends the run on the window's side.
  // Returns the text; the worker appends nothing after this.
  std::string StopAndTakeText();
  // The same, moving the text out in the pieces it is kept in instead of
  // copying it (Text() is empty afterwards): copying hundreds of MiB would hold
  // the window up. Every piece ends at the end of a line.
  std::vector<std::string> StopAndMoveText();
  // Requests the stop, runs the worker's calls until it has ended and joins it.
  void StopAndWait();
  // Runs every call the worker has queued for the window's thread.
  void RunPendingCalls();
  // Makes the worker pause this long every 64 steps of its walk, and 64 times
  // as long after each piece of the images it reads, so that a run
  // lasts long enough to be watched and acted on in the middle (tests, screen
  // shots). Set before the start; none by default.
  void SetWorkerPacing(std::chrono::microseconds pause) { m_pacing = pause; }

  // ICompareWindow, called on the worker's thread.
  [[nodiscard]] bool StopRequested() const final { return m_bStop.load(std::memory_order_acquire); }
  bool AppendText(std::string_view lines) final;
  void SendDiffStart(std::uint32_t length) final;
  void PostDiffProgress(std::uint32_t position) final;
  void PostReadProgress(std::uint64_t bytesDone, std::uint64_t bytesTotal) final;
  void SendDiffDone() final;
  void ShowErrorBox(const std::string& text) final;

 protected:
  // Window thread.
  virtual void OnDiffStart(std::uint32_t length) = 0;
  virtual void OnDiffProgress(std::uint32_t position) = 0;
  virtual void OnReadProgress(std::uint64_t /*bytesDone*/, std::uint64_t /*bytesTotal*/) {}
  // The worker's end (normal end or error); Text() holds the whole text.
  virtual void OnDiffDone() = 0;
  virtual void OnErrorBox(const std::string& text) = 0;
  // Any thread: asks the window's thread to call RunPendingCalls() soon.
  virtual void RingDoorbell() = 0;

 private:
  struct Call {
    std::function<void()> run;
    std::promise<void>* done = nullptr;  // the waiting worker's, or null for a posted call
  };

  void Enqueue(Call call);
  void CallAndWait(std::function<void()> run);
  void RunOne(Call& call);
  void RequestStop();

  CompareJob m_job;  // written before the worker starts, then read only

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  // m_strText, guarded by m_mutex: the text is these pieces one after the
  // other. A new piece is made outside the lock, so that the text's growth
  // never copies it under the lock that the window's thread takes too.
  std::vector<std::string> m_strText;
  std::deque<Call> m_calls;       // guarded by m_mutex
  bool m_workerFinished = false;  // guarded by m_mutex
  bool m_orphaned = false;        // guarded by m_mutex: no window thread serves calls any more
  std::atomic<bool> m_bStop{false};

  std::atomic<std::uint32_t> m_progressPosition{0};
  std::atomic<bool> m_progressQueued{false};
  std::atomic<std::uint64_t> m_readDone{0};
  std::atomic<std::uint64_t> m_readTotal{0};
  std::atomic<bool> m_readQueued{false};
  std::uint32_t m_progressStride = 1;  // worker thread only
  std::uint64_t m_nextProgress = 0;    // worker thread only
  std::chrono::microseconds m_pacing{0};  // written before the worker starts
  std::uint32_t m_pacedSteps = 0;         // worker thread only

  bool m_running = false;  // window thread only
  std::thread m_thread;
};

}  // namespace quillet
