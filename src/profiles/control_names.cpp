#include "profiles/control_names.h"

#include "base/ascii_text.h"
#include "profiles/profile_record.h"

namespace orb {
namespace {

constexpr const char* kEntryNames[kControlEntries] = {
    "PGM1",             "PGM2",             "PGM3",            "PGM4",             "PGM5",
    "DECK_FILE",        "BACK",             "FORE",            "CAP",              "PLAY",
    "IN",               "OUT",              "ADD",             "JOG_SHUTTLE",      "JOG_BACK",
    "JOG_FORE",         "SHUTTLE_M5_LEFT",  "SHUTTLE_M5_RIGHT", "SHUTTLE_M4_LEFT", "SHUTTLE_M4_RIGHT",
    "SHUTTLE_M3_LEFT",  "SHUTTLE_M3_RIGHT", "SHUTTLE_M2_LEFT", "SHUTTLE_M2_RIGHT", "SHUTTLE_M1_LEFT",
    "SHUTTLE_M1_RIGHT", "SHUTTLE_0_LEFT",   "SHUTTLE_0_RIGHT", "SHUTTLE_P1_LEFT",  "SHUTTLE_P1_RIGHT",
    "SHUTTLE_P2_LEFT",  "SHUTTLE_P2_RIGHT", "SHUTTLE_P3_LEFT", "SHUTTLE_P3_RIGHT", "SHUTTLE_P4_LEFT",
    "SHUTTLE_P4_RIGHT", "SHUTTLE_P5_LEFT",  "SHUTTLE_P5_RIGHT",
};

}  // namespace

const char* ControlEntryName(int k) {
  return (k >= 0 && k < kControlEntries) ? kEntryNames[k] : nullptr;
}

int FindControlEntryByName(std::string_view name) {
  for (int k = 0; k < kControlEntries; ++k) {
    if (EqualsIgnoringCase(kEntryNames[k], name)) {
      return k;
    }
  }
  return -1;
}

}  // namespace orb
