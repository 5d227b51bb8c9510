#include "tools/orbctl/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orb::orbctl {

int FinishStandardOutput(const char* pProgram, int nStatus) {
  const bool blFailedBefore = std::ferror(stdout) != 0;  // a write that bypassed the buffer
  errno = 0;
  const bool blClosed = std::fclose(stdout) == 0;
  if (blClosed && !blFailedBefore) {
    return nStatus;
  }
  const int nError = errno;
  if (nError != 0) {
    std::fprintf(stderr, "%s: cannot write the standard output: %s\n", pProgram, std::strerror(nError));
  } else {
    std::fprintf(stderr, "%s: cannot write the standard output\n", pProgram);
  }
  return 2;
}

}  // namespace orb::orbctl
