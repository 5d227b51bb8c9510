#pragma once
// Sets (or, with null, removes) an environment variable for one scope, and puts back what
// was there before.

#include <cstdlib>
#include <string>

namespace orb::test {

class ScopedEnv final {
 public:
  ScopedEnv(const char* pName, const char* pValue) : m_pName(pName) {
    if (const char* pOld = std::getenv(pName)) {
      m_old = pOld;
      m_blHad = true;
    }
    if (pValue != nullptr) {
      ::setenv(pName, pValue, 1);
    } else {
      ::unsetenv(pName);
    }
  }
  ~ScopedEnv() {
    if (m_blHad) {
      ::setenv(m_pName, m_old.c_str(), 1);
    } else {
      ::unsetenv(m_pName);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* m_pName;
  std::string m_old;
  bool m_blHad = false;
};

}  // namespace orb::test
