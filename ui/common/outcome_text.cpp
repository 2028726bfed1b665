#include "ui/common/outcome_text.h"

#include <string>

#include "core/platform/file_error.h"
#include "ui/common/row_details.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {

// The box's words; the path is named where the window does not show it.
std::string Words(WindowJob job, const quillet::JobOutcome& outcome) {
  const std::string& path = outcome.path;
  // The comparison and the porting read two images: they name the one concerned.
  const bool named = job == WindowJob::compare || job == WindowJob::port;
  const bool port = job == WindowJob::port;
  switch (outcome.cause) {
    case JobCause::none:
    case JobCause::stopped:
    case JobCause::noTarget:
      return {};
    case JobCause::refused:
      // The workbench's list says why; the porting's refusal is of its outputs.
      return port ? quillet::Fill(text::kPortSharedOutput, {path}) : std::string();
    case JobCause::imageOpen:
      return named ? text::kOpenErrorPrefix + path + "'" : text::kCurrentOpenError;
    case JobCause::imageRead:
      return named ? text::kReadErrorPrefix + path + "'" : text::kCurrentReadError;
    case JobCause::imageTooLarge:
      return text::kTooLargePrefix + path + "'";
    case JobCause::outOfMemory:
      return text::kOutOfMemory;
    case JobCause::outputIsInput:
      return quillet::Fill(port ? text::kPortOutputIsInput : text::kInstallOutputIsInput, {path});
    case JobCause::verifyFailed:
      return quillet::Fill(text::kInstallVerifyFailed, {path});
    case JobCause::undoExists:
      return quillet::Fill(text::kInstallUndoExists, {path});
    case JobCause::imageChanged:
      return quillet::Fill(text::kInstallImageChanged, {path});
    case JobCause::patchFile:
    case JobCause::outputWrite:
    case JobCause::undoWrite:
      break;
  }
  return quillet::FileError::FromErrno(outcome.systemError, path).what();
}

}  // namespace

OutcomeBox OutcomeMessage(WindowJob job, const quillet::JobOutcome& outcome) {
  OutcomeBox box{QString::fromStdString(Words(job, outcome)), QString::fromUtf8(text::kErrorCaption),
                 IUserPrompts::Icon::none};
  switch (job) {
    case WindowJob::search:
      // A patch file gone in the middle stops the search; memory that can't
      // be had is a warning about the machine; an image that can't be used is
      // plain news.
      if (outcome.cause == JobCause::patchFile || outcome.cause == JobCause::outOfMemory) {
        box.caption = QString::fromUtf8(text::kAppName);
        box.icon = outcome.cause == JobCause::patchFile ? IUserPrompts::Icon::stop : IUserPrompts::Icon::exclamation;
      }
      break;
    case WindowJob::compare:
      break;
    case WindowJob::install:
    case WindowJob::port:
      // Nothing was written: the run stopped short of what was asked.
      box.icon = IUserPrompts::Icon::stop;
      break;
  }
  return box;
}

}  // namespace quillet
