#include "resident/abrupt_exit.h"

#include <cstdlib>

#include "base/write_log.h"
#include "resident/resident_core.h"

namespace orb {
namespace {

CResidentCore* g_pArmedCore = nullptr;

void EndArmedCore() {
  CResidentCore* pCore = g_pArmedCore;
  g_pArmedCore = nullptr;
  if (pCore != nullptr) {
    WriteLog("The program ends without its window's destruction; the table is saved\r\n");
    pCore->EndAbruptly();
  }
}

}  // namespace

void EndCoreAtExit(CResidentCore* pCore) {
  static const bool blRegistered = std::atexit(&EndArmedCore) == 0;
  if (!blRegistered) {
    WriteLog("EndCoreAtExit: atexit refused; an abrupt end would not save\r\n");
  }
  g_pArmedCore = pCore;
}

}  // namespace orb
