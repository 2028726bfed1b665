#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/job/job.h"
#include "core/platform/file_error.h"
#include "core/platform/file_ops.h"

// Writing ported patches where the user asked, never over a file the run
// reads: the window and quillet-cli share these rules.

namespace quillet {

// A path as the file system would resolve it, also when it does not exist yet.
[[nodiscard]] std::string ResolvedPath(const std::string& path);

// The first output (in order) that is one of inputs, and which input it is:
// the same file by any spelling or link, or, for an output that does not
// exist yet, the same path once resolved.
struct OutputIsInput {
  std::size_t output = 0;
  std::size_t input = 0;
};
[[nodiscard]] std::optional<OutputIsInput> FindOutputIsInput(const std::vector<std::string>& outputs,
                                                             const std::vector<std::string>& inputs);

// The first output that resolves to the place of an earlier one, and that one.
[[nodiscard]] std::optional<OutputIsInput> FindSharedOutput(const std::vector<std::string>& outputs);

// One ported patch's file.
struct PortedFile {
  std::string path;
  std::string text;
  // False: the file did not exist when the user was asked, so one that has
  // appeared since is not replaced (its write fails with EEXIST).
  bool replace = true;
};

struct PortWriteEvents {
  // Files done of all. Must return at once.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // A file that could not be written; the files after it are still written.
  std::function<void(std::size_t index, const FileError& error)> failed;
};

// cause none when every file was written; outputIsInput (path: the output)
// when one of them is one of inputs, and refused (path: the later one) when
// two are one file: nothing at all is written then; outputWrite with the first
// file found to fail, its path and errno; stopped between two files: the
// files written but not yet put in place are removed, and written says which
// were (each failure before it was told to failed).
struct PortWriteOutcome : JobOutcome {
  std::vector<bool> written;  // by the files' index
  [[nodiscard]] std::size_t WrittenCount() const;
};

// Writes each file atomically, in order, making the folders on its way.
// Never throws. ops: the file operations, the system's when null.
[[nodiscard]] PortWriteOutcome WritePortedPatches(const std::vector<PortedFile>& files,
                                                  const std::vector<std::string>& inputs, const PortWriteEvents& events,
                                                  StopToken stop, FileOps* ops = nullptr);

}  // namespace quillet
