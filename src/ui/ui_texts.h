#pragma once
// The texts of the window's menus and small dialogs that have no string id, in English
// and Japanese. Numbered strings come from the string tables (base/string_table.h).

#include "base/string_table.h"

namespace orb {

struct TrayMenuTexts {
  const char* pShowWindow;    // 32771
  const char* pSetDefault;    // 32774
  const char* pStayAtStart;   // 32775
  const char* pAbout;         // 32772
  const char* pExit;          // 32773
};

struct NoticeTexts {
  const char* pStayed;        // the resident notice's line
  const char* pHideMessage;   // 1035
  const char* pOk;            // 1
};

struct AboutTexts {
  const char* pCaption;
  const char* pNoticeLine;    // 1036
  const char* pOk;
};

// The settings window's own controls (the key panel and its buttons).
struct PanelTexts {
  const char* pApplication;   // caption of the application list 5
  const char* pLabel;         // caption of the label box 6
  const char* pKeys;          // caption of the key list 7
  const char* pCombination;   // 1013
  const char* pAlt;           // 8
  const char* pCtrl;          // 301
  const char* pShift;         // 302
  const char* pEnter;         // 501
  const char* pTab;           // 502
  const char* pEsc;           // 503
  const char* pPause;         // 202
  const char* pClear;         // 203
  const char* pOk;            // 1
  const char* pCancel;        // 2
  const char* pApply;         // 3
  const char* pSaveFailed;    // OK or Apply could not write the data file; %1 is why
  const char* pEditsDropped;  // the editor changed or took back the table under unapplied edits
};

const TrayMenuTexts& TrayMenuText(UiLanguage language);
const PanelTexts& PanelText(UiLanguage language);
const NoticeTexts& NoticeText(UiLanguage language);
const AboutTexts& AboutText(UiLanguage language);

// Menu texts mark their mnemonic with '&' as Qt does; the Japanese ones name it in
// brackets at the end ("(&S)"), so both read the same in a Qt menu.

}  // namespace orb
