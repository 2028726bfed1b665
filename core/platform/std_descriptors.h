#pragma once

namespace quillet {

// Opens /dev/null, read-only, on each of descriptors 0-2 that is closed.
// Otherwise the next file opened takes the lowest free number and becomes
// stdin, stdout or stderr: a warning meant for stderr would land inside a
// saved patch. Writes there fail as they did before (EBADF). Call it before
// anything is opened. False when /dev/null can't be had.
[[nodiscard]] bool EnsureStandardDescriptors();

}  // namespace quillet
