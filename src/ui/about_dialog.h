#pragma once
// The About box (dialog 100): the program's icon, the product name with its version, and
// a line about the program. Run modally over the main window.

#include <string>

#include <QDialog>
#include <QIcon>

#include "base/string_table.h"

namespace orb {

// "%s %d.%d%d": major, a point, then minor and build written together; the fourth part is
// not shown (1.1.4.1 gives "... 1.14", 2.3.12.0 gives "... 2.312").
std::string FormatVersionLine(const char* pBase, unsigned nMajor, unsigned nMinor, unsigned nBuild);

// The program's own version line (string 1038 and the version CMake defines).
std::string ProgramVersionLine(UiLanguage language);

class CAboutDialog final : public QDialog {
 public:
  CAboutDialog(UiLanguage language, const QIcon& icon, QWidget* pParent = nullptr);
};

}  // namespace orb
