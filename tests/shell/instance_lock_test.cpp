#include "shell/instance_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "shell/runtime_dir.h"
#include "support/temp_dir.h"

namespace {

using orb::CInstanceLock;
using Result = CInstanceLock::Result;
namespace fs = std::filesystem;

TEST(InstanceLock, OneHolderAtATimeAndFreedWhenTheHolderGoes) {
  orb::test::TempDir dir;
  const std::string path = dir / "Running ORB";
  std::optional<CInstanceLock> first;
  first.emplace();
  ASSERT_EQ(first->Acquire(path), Result::Acquired);
  EXPECT_TRUE(first->IsHeld());

  CInstanceLock second;
  EXPECT_EQ(second.Acquire(path), Result::AlreadyRunning);
  EXPECT_FALSE(second.IsHeld());

  // Another process sees the same: the lock, not anything in this process, decides.
  const pid_t child = ::fork();
  if (child == 0) {
    CInstanceLock other;
    ::_exit(other.Acquire(path) == Result::AlreadyRunning ? 0 : 1);
  }
  int nStatus = 0;
  ASSERT_EQ(::waitpid(child, &nStatus, 0), child);
  EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);

  first.reset();
  EXPECT_EQ(second.Acquire(path), Result::Acquired);
}

TEST(InstanceLock, FailsWhenTheFileCannotBeMade) {
  orb::test::TempDir dir;
  CInstanceLock lock;
  EXPECT_EQ(lock.Acquire(dir / "missing" / "Running ORB"), Result::Failed);
  // A symbolic link planted where the lock goes is not followed.
  fs::create_symlink(dir / "elsewhere", dir / "Running ORB");
  EXPECT_EQ(lock.Acquire(dir / "Running ORB"), Result::Failed);
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST(PrivateDirectory, CreatedClosedAndOnlyTrustedWhenOurs) {
  orb::test::TempDir dir;
  const fs::path made = dir / "orb-test";
  ASSERT_TRUE(orb::EnsurePrivateDirectory(made));
  EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(orb::EnsurePrivateDirectory(made)) << "an existing private directory is reused";

  const fs::path open = dir / "open";
  fs::create_directory(open);
  fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  EXPECT_FALSE(orb::EnsurePrivateDirectory(open));

  const fs::path link = dir / "link";
  fs::create_directory_symlink(made, link);
  EXPECT_FALSE(orb::EnsurePrivateDirectory(link));

  const fs::path file = dir / "file";
  orb::test::WriteFileBytes(file, "x", 1);
  EXPECT_FALSE(orb::EnsurePrivateDirectory(file));

  if (::geteuid() == 0) {  // only root can hand a directory to someone else
    const fs::path foreign = dir / "foreign";
    fs::create_directory(foreign, made);
    fs::permissions(foreign, fs::perms::owner_all);
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(orb::EnsurePrivateDirectory(foreign));
  }
}

TEST(RuntimeDirectory, FromTheEnvironmentOrAPrivateFallback) {
  const std::string saved = std::getenv("XDG_RUNTIME_DIR");  // set by the test main
  EXPECT_EQ(orb::RuntimeDirectory(), saved);

  const std::string fallback = "/tmp/orb-" + std::to_string(::getuid());
  ::setenv("XDG_RUNTIME_DIR", "relative/dir", 1);  // not absolute: ignored
  EXPECT_EQ(orb::RuntimeDirectory(), fallback);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(orb::RuntimeDirectory(), fallback);
  EXPECT_EQ(fs::status(fallback).permissions() & fs::perms::all, fs::perms::owner_all);
  ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

}  // namespace
