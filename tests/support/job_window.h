#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>

#include "core/job/job_link.h"

namespace quillet::testing {

// The window's thread of a link, played by the test's: the link rings the
// doorbell, and Serve runs what it queued.
class JobWindow {
 public:
  [[nodiscard]] std::function<void()> Doorbell() {
    return [this] {
      {
        std::lock_guard lock(m_mutex);
        m_rung = true;
      }
      m_bell.notify_one();
    };
  }
  // Runs the link's calls as they come until the job's done call has run.
  void ServeUntilDone(JobLink& link) {
    while (link.Busy()) {
      {
        std::unique_lock lock(m_mutex);
        m_bell.wait(lock, [this] { return m_rung; });
        m_rung = false;
      }
      while (link.RunPendingCalls()) {
      }
    }
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_bell;
  bool m_rung = false;
};

}  // namespace quillet::testing
