#pragma once
// What a second start shows when the running instance sits hidden in the tray.

#include <memory>

class QMessageBox;

namespace orb {

// No owner; text string 900, caption string 102, error icon, one OK button.
std::unique_ptr<QMessageBox> MakeAlreadyRunningBox();

// Shows that box modally and returns when the user has closed it.
void ShowAlreadyRunningMessage();

}  // namespace orb
