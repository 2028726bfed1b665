#pragma once
#include <cstdint>
#include <string>

namespace quillet {

// The modification time as "%d.%m.%Y %H:%M:%S" in local time.
[[nodiscard]] std::string FormatLocalTime(std::int64_t mtime);

}  // namespace quillet
