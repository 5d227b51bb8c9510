// The link message parser: what is heard, what is refused and why, and that a refused
// datagram's descriptors are closed, never left open in the receiver.
#include "platform/link/link_message.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orb::platform {
namespace {

constexpr std::uint32_t kUid = 1000;

LinkDatagram Datagram(std::uint32_t dwParam, int nFds = 0) {
  LinkDatagram datagram;
  datagram.bytes = EncodeLinkMessage(dwParam);
  datagram.blHasCredentials = true;
  datagram.nUid = kUid;
  datagram.nPid = 4242;
  datagram.sSource = "/run/user/1000/orb-link/4242-0";
  for (int i = 0; i < nFds; ++i) datagram.fds.emplace_back(::memfd_create("block", MFD_CLOEXEC));
  return datagram;
}

bool IsOpen(int nFd) {
  return ::fcntl(nFd, F_GETFD) >= 0 || errno != EBADF;
}

TEST(LinkMessageTest, TheWireFormIsFixed) {
  const std::vector<std::uint8_t> bytes = EncodeLinkMessage(MakeLinkParam(LINK_CREATE_MEMORY, 15));
  const std::uint8_t expected[] = {'O', 'R', 'B', 'L', 1, 0, 0, 0, 4, 0, 15, 0};
  ASSERT_EQ(bytes.size(), sizeof expected);
  EXPECT_EQ(std::memcmp(bytes.data(), expected, sizeof expected), 0);
  EXPECT_EQ(LinkCommandOf(0x000F0004), LINK_CREATE_MEMORY);
  EXPECT_EQ(LinkCountOf(0x000F0004), 15);
  EXPECT_EQ(LinkCountOf(0xFFFF0004), 65535);
}

TEST(LinkMessageTest, GoodMessagesKeepTheirSenderAndOnlyABlockKeepsItsDescriptor) {
  LinkParseResult ready = ParseLinkDatagram(Datagram(MakeLinkParam(LINK_READY)), kUid);
  ASSERT_TRUE(ready.Ok()) << ready.sReason;
  EXPECT_EQ(ready.message.sSender, "/run/user/1000/orb-link/4242-0");
  EXPECT_EQ(ready.message.Command(), LINK_READY);
  EXPECT_EQ(ready.message.nSenderPid, 4242);
  EXPECT_FALSE(ready.message.fdBlock.Valid());

  LinkDatagram create = Datagram(MakeLinkParam(LINK_CREATE_MEMORY, 15), 1);
  const int nBlock = create.fds[0].Get();
  LinkParseResult created = ParseLinkDatagram(std::move(create), kUid);
  ASSERT_TRUE(created.Ok()) << created.sReason;
  EXPECT_EQ(created.message.Count(), 15);
  EXPECT_EQ(created.message.fdBlock.Get(), nBlock);
  EXPECT_TRUE(IsOpen(nBlock));

  // A word without a meaning still names its sender (the program stores it); the high word
  // of other commands passes through untouched.
  for (std::uint32_t dwParam : {0u, 7u, 0xFFFFu, 0x12340005u}) {
    LinkParseResult result = ParseLinkDatagram(Datagram(dwParam), kUid);
    EXPECT_TRUE(result.Ok()) << dwParam << ": " << result.sReason;
    EXPECT_EQ(result.message.dwParam, dwParam);
  }
}

TEST(LinkMessageTest, RefusedDatagramsSayWhyAndCloseEveryDescriptor) {
  struct Case {
    const char* pWhat;
    LinkDatagram datagram;
    LinkRefusal nRefusal;
    const char* pReason;
  };
  auto With = [](LinkDatagram datagram, auto change) {
    change(datagram);
    return datagram;
  };
  const std::uint32_t dwCreate = MakeLinkParam(LINK_CREATE_MEMORY, 2);
  Case cases[] = {
      {"another user, even with a block", With(Datagram(dwCreate, 1), [](auto& d) { d.nUid = 65534; }),
       LinkRefusal::OtherUser, "sent by uid 65534"},
      {"no credentials", With(Datagram(LINK_READY), [](auto& d) { d.blHasCredentials = false; }),
       LinkRefusal::NoCredentials, "no sender credentials"},
      {"cut short by the kernel", With(Datagram(dwCreate, 1), [](auto& d) { d.blTruncated = true; }),
       LinkRefusal::Truncated, "did not fit"},
      {"empty", With(Datagram(LINK_READY), [](auto& d) { d.bytes.clear(); }), LinkRefusal::WrongSize,
       "a datagram of 0 bytes, expected 12"},
      {"short", With(Datagram(LINK_READY), [](auto& d) { d.bytes.pop_back(); }), LinkRefusal::WrongSize, "of 11 bytes"},
      {"long", With(Datagram(LINK_READY), [](auto& d) { d.bytes.push_back(0); }), LinkRefusal::WrongSize,
       "of 13 bytes"},
      {"wrong magic", With(Datagram(LINK_READY), [](auto& d) { d.bytes[0] = 'o'; }), LinkRefusal::WrongMagic,
       "not a link message"},
      {"later version", With(Datagram(LINK_READY), [](auto& d) { d.bytes[4] = 2; }), LinkRefusal::WrongVersion,
       "version 2"},
      {"unbound sender", With(Datagram(LINK_READY), [](auto& d) { d.sSource.clear(); }), LinkRefusal::NoSender,
       "without an endpoint path"},
      {"abstract sender", With(Datagram(LINK_READY), [](auto& d) { d.sSource = "@orb"; }), LinkRefusal::NoSender,
       "without an endpoint path"},
      {"a descriptor on LINK_UPDATE", Datagram(LINK_UPDATE, 1), LinkRefusal::UnexpectedFd, "it takes none"},
      {"a descriptor on an unknown word", Datagram(9, 2), LinkRefusal::UnexpectedFd, "with 2 descriptors"},
      {"two blocks", Datagram(dwCreate, 2), LinkRefusal::UnexpectedFd, "expected one block"},
      {"no block", Datagram(dwCreate), LinkRefusal::MissingBlock, "without a block"},
      {"a block of no records", Datagram(MakeLinkParam(LINK_CREATE_MEMORY, 0), 1), LinkRefusal::ZeroCount,
       "count of 0"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.pWhat);
    std::vector<int> fds;
    for (const UniqueFd& fd : c.datagram.fds) fds.push_back(fd.Get());
    LinkParseResult result = ParseLinkDatagram(std::move(c.datagram), kUid);
    EXPECT_EQ(result.nRefusal, c.nRefusal);
    EXPECT_NE(result.sReason.find(c.pReason), std::string::npos) << result.sReason;
    EXPECT_FALSE(result.message.fdBlock.Valid());
    result = LinkParseResult{};
    for (int nFd : fds) EXPECT_FALSE(IsOpen(nFd)) << "descriptor " << nFd << " was left open";
  }
}

}  // namespace
}  // namespace orb::platform
