#pragma once
#include <atomic>
#include <string>

// The shape every long-running piece of work has: a function of its inputs, one
// event sink (a struct of named callbacks, called on the job's thread) and a
// stop token, returning an outcome. The outcome says why the job ended in
// terms a caller can act on; each edge (the window, the command line) turns it
// into its own words.

namespace quillet {

// What a job polls to learn that it is to end. Default-made, it never asks.
class StopToken {
 public:
  StopToken() = default;
  explicit StopToken(const std::atomic<bool>& flag) : m_flag(&flag) {}
  [[nodiscard]] bool StopRequested() const { return m_flag != nullptr && m_flag->load(std::memory_order_acquire); }

 private:
  const std::atomic<bool>* m_flag = nullptr;
};

enum class JobCause {
  none,           // done
  stopped,        // a stop was requested and the job ended early
  imageOpen,      // an image can't be opened (path: which one)
  imageRead,      // an image read short
  imageTooLarge,  // an image of 4 GiB or more: its addresses don't fit in 32 bits
  outOfMemory,    // the buffers could not be had
  patchFile,      // a patch file can't be opened or read
  outputWrite,    // the output can't be written
  refused,        // the work was refused as a whole and nothing was written
  noTarget,       // nowhere to write was named
  outputIsInput,  // the output (path) is one of the inputs, which it would destroy
  verifyFailed,   // what was written does not read back as planned; it was not put in place
  undoWrite,      // the undo patch (path) can't be written; nothing was put in place
  undoExists,     // the undo patch (path) exists already: an earlier one is never replaced
  imageChanged,   // the image (path) changed while it was being patched; nothing was put in place
};

struct JobOutcome {
  JobCause cause = JobCause::none;
  std::string path;     // the file concerned, when there is one
  int systemError = 0;  // errno of the failure, 0 when the system gave none

  // Done, or stopped as asked: nothing went wrong.
  [[nodiscard]] bool Ok() const { return cause == JobCause::none || cause == JobCause::stopped; }
};

}  // namespace quillet
