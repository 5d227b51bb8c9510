// Bytes of any file a process maps, taken for a PE file with a version resource.
#include <cstddef>
#include <cstdint>

#include "platform/process/pe_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  std::uint32_t dwMS = 0;
  std::uint32_t dwLS = 0;
  orb::platform::ReadPeFileVersion(pData, nSize, &dwMS, &dwLS);
  return 0;
}
