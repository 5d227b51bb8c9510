#include "base/write_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace {

using orb::test::ReadFileText;
using orb::test::TempDir;

TEST(WriteLog, WritesNothingUntilStartedAndRecreatesTheFile) {
  TempDir dir;
  const auto path = dir / "ORB.LOG";
  orb::WriteLog("dropped %d\r\n", 1);
  EXPECT_FALSE(std::filesystem::exists(path));

  orb::test::WriteFileBytes(path, "old contents", 12);
  ASSERT_TRUE(orb::StartLog(path.c_str()));
  orb::WriteLog("Make main window : %d\r\n", 1234);
  orb::WriteLog("no line end");
  orb::StopLog();
  EXPECT_EQ(ReadFileText(path), "Make main window : 1234\r\nno line end");

  orb::WriteLog("after stop\r\n");
  EXPECT_EQ(ReadFileText(path), "Make main window : 1234\r\nno line end");
}

// A log created through another user's link in a shared folder would let them have us
// truncate and write any file of ours; our own link is followed as the user meant.
TEST(WriteLog, IsNeverWrittenThroughAnotherUsersLink) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to give a link to another user";
  }
  TempDir dir;
  const auto shared = dir / "shared";
  std::filesystem::create_directory(shared);
  ::chmod(shared.c_str(), 01777);
  orb::test::WriteFileBytes(dir / "victim", "precious!", 9);
  std::filesystem::create_symlink(dir / "victim", shared / "ORB.LOG");
  ASSERT_EQ(::lchown((shared / "ORB.LOG").c_str(), 4242, 4242), 0);
  std::filesystem::create_symlink(dir / "missing", shared / "dangling.log");
  ASSERT_EQ(::lchown((shared / "dangling.log").c_str(), 4242, 4242), 0);

  EXPECT_FALSE(orb::StartLog((shared / "ORB.LOG").c_str()));
  orb::WriteLog("a line\r\n");
  EXPECT_FALSE(orb::StartLog((shared / "dangling.log").c_str()));
  orb::StopLog();
  EXPECT_EQ(ReadFileText(dir / "victim"), "precious!");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));

  std::filesystem::create_symlink(dir / "mine.log", dir / "ORB.LOG");
  ASSERT_TRUE(orb::StartLog((dir / "ORB.LOG").c_str()));
  orb::WriteLog("through my link\r\n");
  orb::StopLog();
  EXPECT_EQ(ReadFileText(dir / "mine.log"), "through my link\r\n");
}

TEST(WriteLog, ShortensLongLinesInsideTheBufferAndKeepsTheLineEnd) {
  TempDir dir;
  const auto path = dir / "ORB.LOG";
  ASSERT_TRUE(orb::StartLog(path.c_str()));
  const std::string longText(5000, 'x');
  orb::WriteLog("Command-line : %s\r\n", longText.c_str());
  orb::WriteLog("%s", longText.c_str());
  orb::StopLog();
  const std::string text = ReadFileText(path);
  ASSERT_EQ(text.size(), 2 * (orb::kLogBufferSize - 1));
  EXPECT_EQ(text.substr(orb::kLogBufferSize - 3, 2), "\r\n");
  EXPECT_EQ(text.substr(0, 15), "Command-line : ");
  EXPECT_EQ(text.back(), 'x');  // a format without a line end gets none added
}

TEST(WriteLog, UncreatableFileKeepsLoggingOnButDropsLines) {
  EXPECT_FALSE(orb::StartLog("/nonexistent-dir/ORB.LOG"));
  EXPECT_TRUE(orb::IsLogEnabled());
  orb::WriteLog("goes nowhere\r\n");
  orb::StopLog();
  EXPECT_FALSE(orb::IsLogEnabled());
}

TEST(WriteLog, LinesFromManyThreadsNeverMix) {
  TempDir dir;
  const auto path = dir / "ORB.LOG";
  ASSERT_TRUE(orb::StartLog(path.c_str()));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 500; ++i) {
        orb::WriteLog("thread %d line %03d with a fixed tail\r\n", t, i);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  orb::StopLog();
  const std::string text = ReadFileText(path);
  std::size_t nLines = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    ASSERT_EQ(line.size(), 35u) << line;
    ASSERT_EQ(line.substr(0, 7), "thread ");
    ++nLines;
    start = end + 2;
  }
  EXPECT_EQ(nLines, 2000u);
}

TEST(WriteLog, ObserverSeesEveryLineWithoutTheFile) {
  std::vector<std::string> lines;
  orb::SetLogObserver(
      [](void* pContext, const char* pLine, std::size_t nLength) {
        static_cast<std::vector<std::string>*>(pContext)->emplace_back(pLine, nLength);
      },
      &lines);
  orb::WriteLog("DeviceThread: start\r\n");
  orb::SetLogObserver(nullptr, nullptr);
  orb::WriteLog("unseen\r\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "DeviceThread: start\r\n");
}

}  // namespace
