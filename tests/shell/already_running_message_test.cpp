#include "shell/already_running_message.h"

#include <gtest/gtest.h>

#include <QMessageBox>

#include "base/string_table.h"

namespace {

TEST(AlreadyRunningMessage, ErrorBoxWithTheProductNameInTheUiLanguage) {
  const orb::UiLanguage saved = orb::CurrentUiLanguage();
  for (orb::UiLanguage language : {orb::UiLanguage::English, orb::UiLanguage::Japanese}) {
    orb::SetUiLanguage(language);
    const auto box = orb::MakeAlreadyRunningBox();
    EXPECT_EQ(box->windowTitle(), QStringLiteral("SpinPad TK-4"));
    EXPECT_EQ(box->text(), QString::fromUtf8(orb::LoadString(900, language)));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->parentWidget(), nullptr);
  }
  orb::SetUiLanguage(saved);
}

}  // namespace
