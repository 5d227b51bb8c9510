#pragma once
// The one stored form of a profile. The same bytes are the data file ORB.DAT, the
// built-in default tables, the live table in shared memory and the settings window's
// working copy, so the layout is fixed to the byte and checked below. All integers are
// little-endian; texts are NUL-terminated bytes in the table's code page (1252 or 932).

#include <cstddef>
#include <cstdint>

namespace orb {

// A key stroke: virtual key (bits 0-15), Alt, Ctrl, Shift (bits 16-18), pause after the
// stroke in tenths of a second (bits 19-27). Bits 28-31 are carried along unread.
using KeyStroke = std::uint32_t;

inline constexpr std::uint32_t KS_VKEY_MASK = 0x0000FFFFu;
inline constexpr std::uint32_t KS_ALT = 1u << 16;
inline constexpr std::uint32_t KS_CTRL = 1u << 17;
inline constexpr std::uint32_t KS_SHIFT = 1u << 18;
inline constexpr unsigned KS_PAUSE_SHIFT = 19;
inline constexpr std::uint32_t KS_PAUSE_MASK = 0x1FFu << KS_PAUSE_SHIFT;

inline constexpr std::uint16_t KeyStrokeVirtualKey(KeyStroke k) { return static_cast<std::uint16_t>(k & KS_VKEY_MASK); }
inline constexpr unsigned KeyStrokePause(KeyStroke k) { return (k & KS_PAUSE_MASK) >> KS_PAUSE_SHIFT; }

inline constexpr int kKeysPerCommand = 5;
inline constexpr int kControlEntries = 38;

inline constexpr std::uint32_t KC_OPTION_REPEAT = 1u;  // bit 0 of dwOption

#pragma pack(push, 1)

struct KeyCommand {
  char szLabel[32];
  std::uint32_t dwOption;
  KeyStroke keys[kKeysPerCommand];
};

struct ControlEntry {
  std::uint32_t dwReserved;
  KeyCommand deck;
  KeyCommand file;
};

struct ProfileRecord {
  char szAppName[64];
  char szExeName[261];
  char szLibName[261];
  std::uint8_t reserved[2];
  std::uint32_t dwVersionMS;
  std::uint32_t dwVersionLS;
  std::uint32_t dwFlags;  // live records: access through std::atomic_ref (other threads)
  ControlEntry entries[kControlEntries];
};

#pragma pack(pop)

static_assert(sizeof(KeyCommand) == 56);
static_assert(offsetof(KeyCommand, dwOption) == 32);
static_assert(offsetof(KeyCommand, keys) == 36);
static_assert(sizeof(ControlEntry) == 116);
static_assert(offsetof(ControlEntry, deck) == 4);
static_assert(offsetof(ControlEntry, file) == 60);
static_assert(sizeof(ProfileRecord) == 5008);
static_assert(offsetof(ProfileRecord, szExeName) == 64);
static_assert(offsetof(ProfileRecord, szLibName) == 325);
static_assert(offsetof(ProfileRecord, reserved) == 586);
static_assert(offsetof(ProfileRecord, dwVersionMS) == 588);
static_assert(offsetof(ProfileRecord, dwVersionLS) == 592);
static_assert(offsetof(ProfileRecord, dwFlags) == 596);
static_assert(offsetof(ProfileRecord, entries) == 600);
static_assert(alignof(ProfileRecord) == 1);

// dwFlags bits.
inline constexpr std::uint32_t PF_DECK = 1u << 1;
inline constexpr std::uint32_t PF_DECKFILE = 1u << 2;
inline constexpr std::uint32_t PF_JOG = 1u << 3;
inline constexpr std::uint32_t PF_JOGSHUTTLE = 1u << 4;
inline constexpr unsigned PF_JOGRES_SHIFT = 5;
inline constexpr std::uint32_t PF_JOGRES_MASK = 0xFu << PF_JOGRES_SHIFT;
inline constexpr unsigned PF_SHTLRES_SHIFT = 9;
inline constexpr std::uint32_t PF_SHTLRES_MASK = 0xFu << PF_SHTLRES_SHIFT;
inline constexpr std::uint32_t PF_HOSTMODE = 1u << 13;
inline constexpr std::uint32_t PF_FALLBACK = 1u << 14;
inline constexpr unsigned PF_VERRULE_SHIFT = 15;
inline constexpr std::uint32_t PF_VERRULE_MASK = 0x7u << PF_VERRULE_SHIFT;
// Bits that carry a meaning; anything else is carried along unchanged.
inline constexpr std::uint32_t PF_KNOWN_MASK = 0x3FFFEu;

inline constexpr unsigned JogResolution(std::uint32_t dwFlags) { return (dwFlags & PF_JOGRES_MASK) >> PF_JOGRES_SHIFT; }
inline constexpr unsigned ShuttleResolution(std::uint32_t dwFlags) { return (dwFlags & PF_SHTLRES_MASK) >> PF_SHTLRES_SHIFT; }
inline constexpr unsigned VersionRule(std::uint32_t dwFlags) { return (dwFlags & PF_VERRULE_MASK) >> PF_VERRULE_SHIFT; }

// Control codes: button 601 + k owns entry k; the wheel's jog steps and shuttle positions
// are 615-638 (617 + 2 * position + direction).
inline constexpr int kFirstControlCode = 601;
inline constexpr int CC_DECKFILE = 606;
inline constexpr int CC_JOGSHUTTLE = 614;
inline constexpr int CC_JOG_BACK = 615;
inline constexpr int CC_JOG_FORE = 616;
inline constexpr int CC_SHUTTLE_FIRST = 617;

}  // namespace orb
