#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/file_error.h"
#include "core/platform/file_ops.h"

namespace quillet {

// The file a write through this path would really change, links followed as
// the writer follows them (a dangling link too, so that its target comes into
// being). Resolved once, when a job starts, it is the path every check and
// the writer itself use: a link made at the name later is replaced, not
// followed. Throws FileError (badPath) for a cycle of links.
[[nodiscard]] std::string ResolveOutputPath(const std::string& path);

struct WriterOptions {
  // A device or FIFO target is written into (renaming over /dev/null would
  // replace it for everyone); otherwise it is refused.
  bool intoSpecialFiles = false;
  // The path came from ResolveOutputPath: it is written as it is.
  bool resolved = false;
  // An existing file is never replaced, whenever it appeared: EEXIST.
  bool noReplace = false;
  // Every piece handed to Write stays as it is until Commit returns: the
  // read-back compares the file with those bytes themselves, which costs
  // less than a hash of both (an image's result, held in memory anyway).
  bool piecesOutliveCommit = false;
  FileOps* ops = nullptr;  // the system's when null
  // False: the folder's stale temporary files were removed already in this
  // run (a batch sweeps each folder once, not once per file).
  bool sweepFolder = true;
};

// What has been written does not read back as it was written.
class WriteVerifyError : public FileError {
 public:
  explicit WriteVerifyError(std::string path);
};

// Replaces a file's content so that a failure leaves an existing file as it
// was: a temporary file in the same folder, read back whole and compared with
// what was written, flushed, then renamed over the target. Until Commit the
// target is untouched; a writer destroyed before it, or any signal that ends
// the program meanwhile (one it has not taken over itself), leaves no
// temporary file behind. An existing target keeps its mode, owner and group.
// Temporary files are named .quillet-PID-RANDOM.tmp; one whose process is gone
// (a run killed outright) is removed when a later writer starts in its folder.
// Throws FileError with the target's path as given.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& path, bool intoSpecialFiles = false);
  AtomicFileWriter(const std::string& path, const WriterOptions& options);
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter();

  void Write(std::string_view bytes);
  // Reads the whole file back (WriteVerifyError when it differs from what was
  // written), flushes it, calls beforeRename, and puts it in place. Anything
  // beforeRename throws leaves the target untouched and passes through.
  void Commit(const std::function<void()>& beforeRename = {});

 private:
  friend class AtomicFileBatch;
  struct State;
  std::unique_ptr<State> m_state;
};

// Several files, each replaced as AtomicFileWriter replaces one, made durable
// together: one flush of the file system for all of them where the writer
// flushes each file and its folder, which is what makes a thousand small
// files take half a minute. At most kMaxStaged wait at once, so that a signal
// that ends the program still removes every one of them.
class AtomicFileBatch {
 public:
  static constexpr std::size_t kMaxStaged = 128;
  explicit AtomicFileBatch(FileOps* ops = nullptr);
  AtomicFileBatch(const AtomicFileBatch&) = delete;
  AtomicFileBatch& operator=(const AtomicFileBatch&) = delete;
  // Removes every staged file not put in place.
  ~AtomicFileBatch();

  // Writes bytes into a temporary file beside the target and reads it back
  // whole; nothing is put in place yet. Throws FileError as AtomicFileWriter
  // does (options.ops is this batch's); a full batch is a logic_error.
  void Stage(const std::string& path, std::string_view bytes, WriterOptions options);
  [[nodiscard]] std::size_t Staged() const;

  // Flushes the staged files, then puts each in place in the order staged,
  // and empties the batch. By that order, whether each was put in place;
  // failed(index, error) for each that was not, its path as given.
  std::vector<bool> Commit(const std::function<void(std::size_t index, const FileError& error)>& failed);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

// Replaces the file's content at once, as AtomicFileWriter does.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// A file that has just been put in place for a change that is not complete
// yet (an undo patch, before the result it records): a signal that ends the
// program before Keep removes it as the temporary files are removed, and so
// does the destructor. One at a time.
class RemovedUnlessKept {
 public:
  explicit RemovedUnlessKept(const std::string& path);
  RemovedUnlessKept(const RemovedUnlessKept&) = delete;
  RemovedUnlessKept& operator=(const RemovedUnlessKept&) = delete;
  ~RemovedUnlessKept();
  void Keep();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace quillet
