#include "shell/already_running_message.h"

#include <QMessageBox>
#include <QString>

#include "base/string_table.h"

namespace orb {
namespace {
constexpr int kIdsProductName = 102;
constexpr int kIdsAlreadyRunning = 900;
}  // namespace

std::unique_ptr<QMessageBox> MakeAlreadyRunningBox() {
  return std::make_unique<QMessageBox>(QMessageBox::Critical, QString::fromUtf8(LoadString(kIdsProductName)),
                                       QString::fromUtf8(LoadString(kIdsAlreadyRunning)), QMessageBox::Ok);
}

void ShowAlreadyRunningMessage() { MakeAlreadyRunningBox()->exec(); }

}  // namespace orb
