#pragma once
// The resident notice (dialog 202): says once at start that the program now stays in the
// notification area. Its check box turns the notice off for good, written at each click.

#include <functional>

#include <QDialog>

#include "base/string_table.h"

namespace orb {

class CResidentNotice final : public QDialog {
 public:
  // onHideToggled(true) when the box is now ticked ("ShowStay" 0), false when cleared.
  CResidentNotice(UiLanguage language, std::function<void(bool blHide)> onHideToggled, QWidget* pParent = nullptr);
};

}  // namespace orb
