#include "core/job/image_failure.h"

namespace quillet {

std::optional<JobOutcome> ImageReadFailure(const ImageRead& read, const std::string& path) {
  switch (read.status) {
    case ImageReadStatus::ok:
      return std::nullopt;
    case ImageReadStatus::openFailed:
      return JobOutcome{JobCause::imageOpen, path, read.osError};
    case ImageReadStatus::readShort:
      return JobOutcome{JobCause::imageRead, path, read.osError};
    case ImageReadStatus::tooLarge:
      return JobOutcome{JobCause::imageTooLarge, path, 0};
  }
  return JobOutcome{JobCause::imageRead, path, read.osError};
}

}  // namespace quillet
