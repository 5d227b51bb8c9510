#pragma once
// The readable form of a profile table: TOML, one [[profile]] per record, the entries by
// control name. `DumpTableText` then `BuildTableFromText` gives back the identical bytes
// for any table, so the text carries, beside the readable keys, whatever the readable
// form cannot say:
//
//   language = "en" | "ja"     code page of the texts: 1252 or 932
//   [[profile]]
//   app, exe, lib              the three names (lib omitted when empty)
//   reserved                   the two bytes at offset 586 as a little-endian word, when not 0
//   version = "6.0.0.0"        major.minor.build.revision; also [dwVersionMS, dwVersionLS]
//   flags = 0x00003F74         the whole dwFlags word; and decoded:
//   deck, deckfile, jog, jogshuttle, hostmode, fallback (booleans), jog_resolution,
//   shuttle_resolution (0-15), version_rule (0-7)
//   [profile.controls.PGM1]    one table per non-empty entry (names: control_names.h)
//   reserved                   dwReserved, when not 0
//   both = { ... }             when deck and file are identical; else deck = {...}, file = {...}
//     label                    the label text; empty commands are left out
//     repeat = true            bit 0 of dwOption
//     option = 0x...           the whole dwOption, only when other bits are set
//     keys = ["Ctrl+3", ...]   up to five strokes (stroke_text.h); trailing empty ones left out
//
// Every text key K (app, exe, lib, label) may come with:
//   K_cp = 932 | 1252   the text is in that code page instead of the table's (the English
//                       default table holds some Japanese labels)
//   K_hex = "8140FF"    the text's bytes, instead of K, when no code page converts them
//   K_tail = "4F5554"   non-zero bytes that lie after the text's NUL (leftovers of older
//                       text), from the byte after the NUL up to the last non-zero byte
// A text as long as its field has no NUL at all.
//
// When both `flags` and decoded keys are given they must agree; either alone is enough,
// and unknown bits come only from `flags`. The same holds for `option` and `repeat`.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/text_codec.h"
#include "profiles/profile_record.h"

namespace orb {

enum class TableLanguage { English, Japanese };

platform::CodePage TableCodePage(TableLanguage language);
const char* TableLanguageCode(TableLanguage language);  // "en", "ja"
bool ParseTableLanguage(std::string_view code, TableLanguage& language);

// nTrailingBytes: bytes after the last whole record of the source block, only mentioned
// in the header comment (they are not part of the table).
std::string DumpTableText(std::span<const ProfileRecord> records, TableLanguage language,
                          std::size_t nTrailingBytes = 0);

struct TableText {
  TableLanguage language = TableLanguage::English;  // "language" may be left out: English
  std::vector<ProfileRecord> records;
};

// False with `error` = "line N: what is wrong" (or "line N, column C: ..." for syntax).
bool BuildTableFromText(std::string_view text, TableText& result, std::string& error);

}  // namespace orb
