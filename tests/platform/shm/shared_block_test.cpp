// Sealed shared blocks: what we make cannot change size, and what a peer hands over is
// taken only when it cannot either.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/shm/shared_block.h"

namespace orb::platform {
namespace {

// A peer's block: a memfd of nSize bytes with the given seals added.
UniqueFd PeerBlock(std::size_t nSize, int nSeals) {
  UniqueFd fd(::memfd_create("peer", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  EXPECT_TRUE(fd.Valid());
  EXPECT_EQ(::ftruncate(fd.Get(), static_cast<off_t>(nSize)), 0);
  if (nSeals != 0) {
    EXPECT_EQ(::fcntl(fd.Get(), F_ADD_SEALS, nSeals), 0);
  }
  return fd;
}

TEST(SharedBlockTest, ANewBlockIsZeroedSharedAndCanNeverChangeSize) {
  std::string sError;
  auto pBlock = SharedBlock::Create("ORB.DAT", 3 * 5008, &sError);
  ASSERT_TRUE(pBlock) << sError;
  ASSERT_EQ(pBlock->Size(), 3u * 5008);
  for (std::size_t i = 0; i < pBlock->Size(); ++i) ASSERT_EQ(pBlock->Data()[i], 0) << i;

  const int nSeals = ::fcntl(pBlock->Fd(), F_GET_SEALS);
  EXPECT_EQ(nSeals & (F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL), F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
  EXPECT_NE(::ftruncate(pBlock->Fd(), 0), 0);
  EXPECT_NE(::ftruncate(pBlock->Fd(), 4 * 5008), 0);
  EXPECT_NE(::fcntl(pBlock->Fd(), F_ADD_SEALS, F_SEAL_WRITE), 0) << "no one may seal it against our writes";

  // What one side writes, the other sees: the peer reads through the fd.
  std::memcpy(pBlock->Data() + 5008, "LUMEDIT.EXE", 11);
  char sz[12] = {};
  ASSERT_EQ(::pread(pBlock->Fd(), sz, 11, 5008), 11);
  EXPECT_STREQ(sz, "LUMEDIT.EXE");
}

TEST(SharedBlockTest, AnEmptyBlockIsRefused) {
  std::string sError;
  EXPECT_FALSE(SharedBlock::Create("ORB.DAT", 0, &sError));
  EXPECT_NE(sError.find("0 bytes"), std::string::npos) << sError;
}

TEST(SharedBlockTest, APeersSealedBlockOfTheStatedSizeIsTakenAndStaysThatSize) {
  UniqueFd fd = PeerBlock(2 * 5008, F_SEAL_SHRINK | F_SEAL_GROW);
  const int nPeerFd = ::dup(fd.Get());
  std::string sError;
  auto pBlock = SharedBlock::Adopt(std::move(fd), 2 * 5008, &sError);
  ASSERT_TRUE(pBlock) << sError;
  pBlock->Data()[2 * 5008 - 1] = 0x5A;  // the last byte is ours to write
  // The peer still holds the file, and cannot shrink it under our view.
  EXPECT_NE(::ftruncate(nPeerFd, 0), 0);
  unsigned char nLast = 0;
  ASSERT_EQ(::pread(nPeerFd, &nLast, 1, 2 * 5008 - 1), 1);
  EXPECT_EQ(nLast, 0x5A);
  ::close(nPeerFd);
}

TEST(SharedBlockTest, BlocksThatCouldChangeSizeOrDoNotMatchAreRefused) {
  struct Case {
    const char* pWhat;
    UniqueFd fd;
    std::size_t nExpected;
    const char* pReason;
  };
  char szTemp[] = "plain-file-XXXXXX";
  UniqueFd plain(::mkstemp(szTemp));
  ASSERT_TRUE(plain.Valid());
  ASSERT_EQ(::ftruncate(plain.Get(), 5008), 0);
  ::unlink(szTemp);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ::close(pipeFds[1]);

  Case cases[] = {
      {"no fd", UniqueFd(), 5008, "no block"},
      {"unsealed", PeerBlock(5008, 0), 5008, "not sealed"},
      {"may still grow", PeerBlock(5008, F_SEAL_SHRINK), 5008, "not sealed"},
      {"may still shrink", PeerBlock(5008, F_SEAL_GROW), 5008, "not sealed"},
      {"one record short", PeerBlock(5008, F_SEAL_SHRINK | F_SEAL_GROW), 2 * 5008, "has 5008 bytes, expected 10016"},
      {"larger than stated", PeerBlock(3 * 5008, F_SEAL_SHRINK | F_SEAL_GROW), 2 * 5008, "expected 10016"},
      {"a count of 0", PeerBlock(5008, F_SEAL_SHRINK | F_SEAL_GROW), 0, "expected 0"},
      {"sealed against our writes", PeerBlock(5008, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE), 5008, "cannot map"},
      {"a plain file", std::move(plain), 5008, "not a sealable memory file"},
      {"a pipe", UniqueFd(pipeFds[0]), 5008, "not a sealable memory file"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.pWhat);
    std::string sError;
    EXPECT_FALSE(SharedBlock::Adopt(std::move(c.fd), c.nExpected, &sError));
    EXPECT_NE(sError.find(c.pReason), std::string::npos) << sError;
  }
}

}  // namespace
}  // namespace orb::platform
