#pragma once
#include <optional>
#include <string>

#include "core/job/job.h"
#include "core/platform/image_file.h"

namespace quillet {

// Why an image (path) that was read can't be worked on, as every job tells
// it; nothing when it was read whole.
[[nodiscard]] std::optional<JobOutcome> ImageReadFailure(const ImageRead& read, const std::string& path);

}  // namespace quillet
