#pragma once
// Owns one file descriptor and closes it when it goes.

#include <unistd.h>

#include <utility>

namespace orb {

class UniqueFd final {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int nFd) : m_nFd(nFd) {}
  UniqueFd(UniqueFd&& other) noexcept : m_nFd(std::exchange(other.m_nFd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_nFd, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return m_nFd; }
  bool Valid() const { return m_nFd >= 0; }
  void Reset(int nFd = -1) {
    if (m_nFd >= 0) ::close(m_nFd);
    m_nFd = nFd;
  }

 private:
  int m_nFd = -1;
};

}  // namespace orb
