#pragma once
// The single-instance mark: an exclusive flock on a file in the runtime directory. The
// kernel drops the lock when the holder ends, however it ends, so a crashed instance
// never blocks the next start; of two starts racing each other exactly one wins.

#include <string>

namespace orb {

inline constexpr const char* kInstanceName = "Running ORB";

class CInstanceLock final {
 public:
  enum class Result { Acquired, AlreadyRunning, Failed };

  CInstanceLock() = default;
  ~CInstanceLock();
  CInstanceLock(const CInstanceLock&) = delete;
  CInstanceLock& operator=(const CInstanceLock&) = delete;

  // Creates the file if needed and takes the lock without waiting. Held until this
  // object goes (the program keeps it for its whole life).
  Result Acquire(const std::string& path);

  bool IsHeld() const { return m_hFile >= 0; }

 private:
  int m_hFile = -1;
};

}  // namespace orb
