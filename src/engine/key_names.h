#pragma once
// The text the settings window's key list shows for a stored key stroke: modifiers in
// the order Alt, Ctrl, Shift joined by "+", the key's name, and the pause as
// "( 0.5 sec.)". There is no way back: no text is ever parsed into a key.

#include <string>

#include "base/string_table.h"
#include "profiles/profile_record.h"

namespace orb {

// In the user interface's language (CurrentUiLanguage) unless one is given. UTF-8.
std::string FormatKeyStroke(KeyStroke keyStroke);
std::string FormatKeyStroke(KeyStroke keyStroke, UiLanguage language);

// The key list as the fill sees it; the Qt list implements it.
class KeyListView {
 public:
  KeyListView() = default;
  KeyListView(const KeyListView&) = delete;
  KeyListView& operator=(const KeyListView&) = delete;
  virtual ~KeyListView() = default;

  virtual void Clear() = 0;
  virtual void InsertRow(int nRow, const std::string& text) = 0;
};

// Empties the list; then, when enabled and a command is given, one row per stroke up to
// and including the first whose text is empty (where a new stroke is typed), at most five.
void FillKeyList(KeyListView& list, const KeyCommand* pCommand, bool blEnabled);
void FillKeyList(KeyListView& list, const KeyCommand* pCommand, bool blEnabled, UiLanguage language);

}  // namespace orb
