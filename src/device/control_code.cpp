#include "device/control_code.h"

namespace orb {

namespace {

// Indexed by button usage 0-15.
constexpr ControlCode kCodeForUsage[16] = {0, 605, 603, 601, 607, 609, 611, 613, 604, 602, 606, 608, 612, 610, 614, 0};

constexpr const char* kCaptions[14] = {"PGM",  "PGM", "PGM", "PGM", "PGM", "DECK", "BACK",
                                       "FORE", "CAP", "PLAY", "IN", "OUT", "ADD",  "JOG"};

}  // namespace

ControlCode ControlCodeForUsage(std::uint32_t nUsage) { return nUsage < 16 ? kCodeForUsage[nUsage] : 0; }

const char* ControlCaption(ControlCode nCode) {
  return nCode >= 601 && nCode <= 614 ? kCaptions[nCode - 601] : nullptr;
}

}  // namespace orb
