// The program's own number texts under a locale that writes a decimal comma: the stroke's
// pause and the wheel's score keep the point the time-interval dialog shows and reads.
#include "shell/number_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../engine/test_profile.h"
#include "engine/key_names.h"
#include "support/temp_dir.h"
#include "ui/wheel_score.h"

namespace orb {
namespace {

// de_DE.UTF-8 compiled into a folder of the test's (the machine need not have it), made
// the process's locale, as QApplication makes the environment's; put back at the end.
class CommaLocale {
 public:
  CommaLocale() : m_sBefore(std::setlocale(LC_ALL, nullptr)) {
    const std::string sCommand = "localedef -i de_DE -f UTF-8 '" + (m_dir.Path() / "de_DE.UTF-8").string() +
                                 "' >/dev/null 2>&1";
    if (std::system(sCommand.c_str()) != 0) return;
    ::setenv("LOCPATH", m_dir.Path().c_str(), 1);
    m_blActive = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  }
  ~CommaLocale() {
    std::setlocale(LC_ALL, m_sBefore.c_str());
    ::unsetenv("LOCPATH");
  }
  bool Active() const { return m_blActive; }

 private:
  test::TempDir m_dir;
  std::string m_sBefore;
  bool m_blActive = false;
};

std::string Formatted(double rValue) {
  char szText[16];
  std::snprintf(szText, sizeof szText, "%.1f", rValue);
  return szText;
}

TEST(NumberFormats, StrokePausesAndTheWheelScoreKeepTheDecimalPointUnderACommaLocale) {
  CommaLocale locale;
  ASSERT_TRUE(locale.Active()) << "localedef could not compile de_DE.UTF-8 (Debian package locales)";
  ASSERT_EQ(Formatted(0.5), "0,5") << "the locale does not write a comma: this test would prove nothing";

  UseCNumberFormats();
  EXPECT_EQ(FormatKeyStroke(test::Key('B', KS_ALT, 5), UiLanguage::English), "Alt+B( 0.5 sec.)");
  CWheelScore score;
  score.Toggle(0);
  score.AddMovement(3);
  EXPECT_EQ(score.Toggle(2001), std::optional<std::string>("Highest Score!!      1.499 counts / sec"));
}

}  // namespace
}  // namespace orb
