#pragma once
#include <unistd.h>

#include <utility>

namespace quillet {

// Closes the descriptor on every path out of a scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : m_fd(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      if (m_fd >= 0) ::close(m_fd);
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  ~UniqueFd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  [[nodiscard]] int release() { return std::exchange(m_fd, -1); }
  [[nodiscard]] int get() const { return m_fd; }
  [[nodiscard]] bool Ok() const { return m_fd >= 0; }

 private:
  int m_fd;
};

}  // namespace quillet
