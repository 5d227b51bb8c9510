#pragma once
// Readable names of the 38 entries of a profile, as the text form of a table uses them:
// PGM1-PGM5, DECK_FILE, BACK, FORE, CAP, PLAY, IN, OUT, ADD, JOG_SHUTTLE, JOG_BACK,
// JOG_FORE, then SHUTTLE_M5_LEFT ... SHUTTLE_0_RIGHT ... SHUTTLE_P5_RIGHT, where M5-P5 is
// the shuttle position from -5 to +5 and LEFT/RIGHT the direction the wheel turned.

#include <string_view>

namespace orb {

// Entry k (0-37); null for any other k.
const char* ControlEntryName(int k);

// The entry of a name (ASCII case-insensitive), -1 when no entry has it.
int FindControlEntryByName(std::string_view name);

}  // namespace orb
