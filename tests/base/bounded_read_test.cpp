#include "base/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "base/unique_fd.h"
#include "support/temp_dir.h"

namespace orb {
namespace {

constexpr ReadLimit kTenBytes{10, "a test input"};

std::vector<std::uint8_t> Bytes(std::size_t nSize) {
  std::vector<std::uint8_t> bytes(nSize);
  for (std::size_t i = 0; i < nSize; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return bytes;
}

TEST(BoundedReadFile, ARegularFileUpToTheLimitIsReadWhole) {
  test::TempDir dir;
  const std::vector<std::uint8_t> ten = Bytes(10);
  test::WriteFileBytes(dir / "ten", ten.data(), ten.size());
  test::WriteFileBytes(dir / "empty", nullptr, 0);
  std::vector<std::uint8_t> bytes{9, 9};
  std::string error;
  ASSERT_TRUE(ReadRegularFile((dir / "ten").c_str(), kTenBytes, bytes, error)) << error;
  EXPECT_EQ(bytes, ten);
  ASSERT_TRUE(ReadRegularFile((dir / "empty").c_str(), kTenBytes, bytes, error)) << error;
  EXPECT_TRUE(bytes.empty());
}

TEST(BoundedReadFile, OneByteOverTheLimitIsRefusedNamingTheLimit) {
  test::TempDir dir;
  const std::vector<std::uint8_t> eleven = Bytes(11);
  test::WriteFileBytes(dir / "eleven", eleven.data(), eleven.size());
  std::vector<std::uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(ReadRegularFile((dir / "eleven").c_str(), kTenBytes, bytes, error));
  EXPECT_EQ(error, "larger than 10 bytes, the limit for a test input");
  EXPECT_TRUE(bytes.empty());
}

TEST(BoundedReadFile, WhatIsNoRegularFileIsRefusedWithoutWaiting) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // no writer: open() for reading would block
  std::filesystem::create_symlink("fifo", dir / "link");
  struct Case {
    std::string path;
    const char* pError;
  };
  const Case cases[] = {
      {(dir / "fifo").string(), "a FIFO, not a regular file"},
      {(dir / "link").string(), "a FIFO, not a regular file"},
      {dir.Path().string(), "a directory, not a regular file"},
      {"/dev/zero", "a character device, not a regular file"},
      {(dir / "missing").string(), "No such file or directory"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(ReadRegularFile(c.path.c_str(), kTenBytes, bytes, error)) << c.path;
    EXPECT_EQ(error, c.pError) << c.path;
  }
}

TEST(BoundedReadStream, AnEndlessInputStopsOneBytePastTheLimit) {
  UniqueFd zero(::open("/dev/zero", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(zero.Valid());
  std::vector<std::uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(ReadToEnd(zero.Get(), ReadLimit{200000, "an endless input"}, bytes, error));
  EXPECT_EQ(error, "larger than 200000 bytes, the limit for an endless input");
  EXPECT_TRUE(bytes.empty());
}

TEST(BoundedReadStream, APipeIsReadToItsEndWithinTheLimit) {
  for (const std::size_t nWritten : {std::size_t{0}, std::size_t{10}, std::size_t{11}}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd readEnd(fds[0]);
    const std::vector<std::uint8_t> sent = Bytes(nWritten);
    ASSERT_EQ(::write(fds[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    ::close(fds[1]);
    std::vector<std::uint8_t> bytes;
    std::string error;
    const bool blRead = ReadToEnd(readEnd.Get(), kTenBytes, bytes, error);
    EXPECT_EQ(blRead, nWritten <= 10) << nWritten;
    EXPECT_EQ(bytes, blRead ? sent : std::vector<std::uint8_t>{}) << nWritten;
  }
}

TEST(BoundedReadStream, NoMoreThanOneBytePastTheLimitIsTaken) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd readEnd(fds[0]);
  UniqueFd writeEnd(fds[1]);
  const std::vector<std::uint8_t> sent = Bytes(100);
  ASSERT_EQ(::write(writeEnd.Get(), sent.data(), sent.size()), 100);
  std::vector<std::uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(ReadToEnd(readEnd.Get(), kTenBytes, bytes, error));
  // The writer is still open: a reader that wanted more than 11 bytes would block here.
  char rest[128];
  EXPECT_EQ(::read(readEnd.Get(), rest, sizeof rest), 89);
}

}  // namespace
}  // namespace orb
