// The record of held keys: what one process writes another reads through its own mapping,
// it is refused where another user could have placed it, and a record of another layout
// holds nothing to release.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/keys/held_keys.h"
#include "platform/keys/key_guard.h"
#include "platform/keys/key_sink.h"
#include "support/temp_dir.h"

namespace orb::platform {
namespace {

TEST(HeldKeyRecordTest, WhatOneMappingMarksAnotherReadsAndClaimingStartsAfresh) {
  test::TempDir dir;
  const std::string path = HeldKeyRecordPath(dir.Path().string());
  std::string error;
  auto pWriter = HeldKeyRecord::Open(path, &error);
  ASSERT_NE(pWriter, nullptr) << error;
  EXPECT_TRUE(pWriter->Read().codes.empty()) << "a new file holds no record";
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  pWriter->Claim(4242, 777);
  pWriter->SetSink("XTest", ":5");
  pWriter->MarkDown(38);
  pWriter->MarkDown(50);
  pWriter->MarkDown(38);  // one key on two virtual keys: still one code
  pWriter->MarkDown(255);
  pWriter->MarkUp(255);
  pWriter->MarkDown(HeldKeyRecord::kCodes);  // beyond the record: ignored, not written past it

  auto pReader = HeldKeyRecord::Open(path, &error);
  ASSERT_NE(pReader, nullptr) << error;
  const HeldKeyRecord::Contents contents = pReader->Read();
  EXPECT_EQ(contents.nPid, 4242);
  EXPECT_EQ(contents.nStartTime, 777u);
  EXPECT_EQ(contents.sink, "XTest");
  EXPECT_EQ(contents.target, ":5");
  EXPECT_EQ(contents.codes, (std::vector<std::uint16_t>{38, 50}));

  pReader->Claim(99, 1);
  const HeldKeyRecord::Contents claimed = pWriter->Read();
  EXPECT_EQ(claimed.nPid, 99);
  EXPECT_EQ(claimed.sink, "");
  EXPECT_TRUE(claimed.codes.empty());
}

TEST(HeldKeyRecordTest, ALinkOrAnotherKindOfFileIsRefusedAndAForeignRecordIsEmpty) {
  test::TempDir dir;
  std::string error;
  const std::filesystem::path target = dir / "elsewhere";
  test::WriteFileBytes(target, "keep", 4);
  std::filesystem::create_symlink(target, dir / "link");
  EXPECT_EQ(HeldKeyRecord::Open((dir / "link").string(), &error), nullptr);
  EXPECT_EQ(test::ReadFileText(target), "keep") << "the file behind the link is left alone";
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(HeldKeyRecord::Open((dir / "fifo").string(), &error), nullptr);
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

  // Some other file under the name (another version's record): nothing in it is a key.
  const std::string junk(4096, '\x01');
  test::WriteFileBytes(dir / "junk", junk.data(), junk.size());
  auto pRecord = HeldKeyRecord::Open((dir / "junk").string(), &error);
  ASSERT_NE(pRecord, nullptr) << error;
  EXPECT_TRUE(pRecord->Read().codes.empty());
  EXPECT_EQ(pRecord->Read().nPid, 0);
}

TEST(HeldKeyRecordTest, OnlyASinkWhoseKeysOutliveItsProcessHasAnythingToRelease) {
  std::string error;
  // uinput's keys go with its device; the recording sink never held any.
  EXPECT_TRUE(ReleaseKeysLeftDown("uinput", "", {30, 31}, &error));
  EXPECT_TRUE(ReleaseKeysLeftDown("record", "", {30}, &error));
  EXPECT_TRUE(ReleaseKeysLeftDown("XTest", ":0", {}, &error)) << "nothing down, nothing to reach";
  EXPECT_FALSE(ReleaseKeysLeftDown("XTest", "/nonexistent/display:7", {38}, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace orb::platform
