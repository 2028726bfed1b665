#pragma once
#include <string>
#include <vector>

#include "core/job/job.h"
#include "core/search/patch_check.h"

// quillet-cli's words for what the core reports, in one place: how a job
// ended, and what a check found.

namespace quillet::cli {

// One line for a job that failed, naming the file concerned and with the
// system's words beside it; empty for a job that did not fail (stopped,
// refused: the listing says why).
[[nodiscard]] std::string OutcomeText(const JobOutcome& outcome);

// A file error's text for path, with the system's words beside it.
[[nodiscard]] std::string FileErrorText(const std::string& path, int error);

// What a check found, as lines under the patch's row.
[[nodiscard]] std::vector<std::string> FormatCheckDetails(const CheckDetails& details);

}  // namespace quillet::cli
