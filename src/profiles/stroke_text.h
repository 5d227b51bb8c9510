#pragma once
// Key strokes as people write them in a table's text form: the held modifiers in the
// order Alt, Ctrl, Shift, then the key's name from the virtual-key table, each joined by
// "+", and an optional pause in seconds: "Ctrl+Shift+Z", "Alt+Ctrl+F2", "F1 pause 0.1".
// A stroke that cannot be written so (key 0 or without a name, bits 28-31 set) is its
// 32-bit value in hex, "0x1234ABCD", so that every stroke survives the text form.

#include <string>
#include <string_view>

#include "profiles/profile_record.h"

namespace orb {

// True when the stroke has a name form (KeyStrokeToText does not fall back to hex).
bool KeyStrokeHasName(KeyStroke stroke);

std::string KeyStrokeToText(KeyStroke stroke);

// Reads either form; modifier and key names ignore case, and modifiers may come in any
// order. "" is the empty stroke 0. False with a message saying what is wrong.
bool ParseKeyStrokeText(std::string_view text, KeyStroke& stroke, std::string& error);

}  // namespace orb
