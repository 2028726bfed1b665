#pragma once
#include <QString>

#include "core/job/job.h"
#include "ui/common/user_prompts.h"

namespace quillet {

// The windows' words for how a job ended, in one place: each window names its
// job, and gets the box it shows (text, caption, icon), or an empty text when
// the job did not fail. A stop is no failure: the window tells it by itself.

enum class WindowJob {
  search,   // the main window's search: the current image
  compare,  // the comparison window: either image, named
  install,  // the workbench: the current image, its result and undo patch
  port,     // the porting window: either image, named, and the ported files
};

struct OutcomeBox {
  QString text;
  QString caption;
  IUserPrompts::Icon icon = IUserPrompts::Icon::none;
};

[[nodiscard]] OutcomeBox OutcomeMessage(WindowJob job, const quillet::JobOutcome& outcome);

}  // namespace quillet
