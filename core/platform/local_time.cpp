#include "core/platform/local_time.h"

#include <ctime>

namespace quillet {

std::string FormatLocalTime(std::int64_t mtime) {
  const auto t = static_cast<std::time_t>(mtime);
  std::tm local{};
  ::localtime_r(&t, &local);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%d.%m.%Y %H:%M:%S", &local);
  return buffer;
}

}  // namespace quillet
