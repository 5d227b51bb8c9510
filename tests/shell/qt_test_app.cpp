// One QApplication for a whole test binary, on the offscreen platform, so that widgets,
// local sockets and socket notifiers work without a display.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include <QApplication>

namespace {

class QtApplicationEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    m_pApp = std::make_unique<QApplication>(m_argc, m_argv);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override { m_pApp.reset(); }

 private:
  int m_argc = 1;
  char m_name[8] = "orbtest";
  char* m_argv[2] = {m_name, nullptr};
  std::unique_ptr<QApplication> m_pApp;
};

[[maybe_unused]] ::testing::Environment* const g_pQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
