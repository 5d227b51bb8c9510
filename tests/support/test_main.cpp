// Shared main of the test binaries: each binary works inside a private directory so that
// files such as ORB.LOG, the settings and the runtime sockets of one test never meet
// those of another or of a real session.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  orb::test::TempDir home;
  const auto runtime = home / "runtime";
  const auto config = home / "config";
  std::filesystem::create_directories(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  std::filesystem::create_directories(config);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  std::filesystem::current_path(home.Path());
  const int result = RUN_ALL_TESTS();
  std::filesystem::current_path("/");
  return result;
}
