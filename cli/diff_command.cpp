#include <cstdio>

#include "cli/commands.h"

namespace quillet::cli {

int RunDiff(const std::vector<std::string>&) {
  std::fputs("diff: not built yet\n", stderr);
  return kExitInternal;
}

}  // namespace quillet::cli
