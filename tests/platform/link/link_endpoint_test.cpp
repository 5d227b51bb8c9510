// Link endpoints in a private runtime directory of the test's own: messages and blocks
// between two endpoints, what is dropped (other users, malformed datagrams, stray
// descriptors), the directory's refusals, and a process's endpoints found past stale ones.
#include "platform/link/link_endpoint.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/write_log.h"
#include "platform/shm/shared_block.h"

namespace orb::platform {
namespace {

int CountOpenFds() {
  int nCount = 0;
  DIR* pDir = ::opendir("/proc/self/fd");
  while (const dirent* pEntry = ::readdir(pDir)) {
    if (pEntry->d_name[0] != '.') ++nCount;
  }
  ::closedir(pDir);
  return nCount - 1;  // the listing's own
}

// A raw socket bound in the directory, for datagrams no endpoint would send.
UniqueFd RawSender(const std::string& sPath) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, sPath.c_str(), sizeof address.sun_path - 1);
  EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << sPath;
  return fd;
}

bool SendRaw(int nSocket, const std::string& sTo, const void* pData, std::size_t nSize, const std::vector<int>& fds) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, sTo.c_str(), sizeof address.sun_path - 1);
  iovec iov{const_cast<void*>(pData), nSize};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(16 * sizeof(int))] = {};
  msghdr header{};
  header.msg_name = &address;
  header.msg_namelen = sizeof address;
  header.msg_iov = &iov;
  header.msg_iovlen = 1;
  if (!fds.empty()) {
    header.msg_control = control;
    header.msg_controllen = CMSG_SPACE(fds.size() * sizeof(int));
    cmsghdr* pCmsg = CMSG_FIRSTHDR(&header);
    pCmsg->cmsg_level = SOL_SOCKET;
    pCmsg->cmsg_type = SCM_RIGHTS;
    pCmsg->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
    std::memcpy(CMSG_DATA(pCmsg), fds.data(), fds.size() * sizeof(int));
  }
  return ::sendmsg(nSocket, &header, MSG_DONTWAIT) == static_cast<ssize_t>(nSize);
}

bool WaitReadable(int nFd, int nMs = 5000) {
  pollfd p{nFd, POLLIN, 0};
  return ::poll(&p, 1, nMs) == 1;
}

class LinkEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char szTemplate[] = "/tmp/orb-link-test-XXXXXX";
    ASSERT_NE(::mkdtemp(szTemplate), nullptr);
    m_sRuntime = szTemplate;
    m_sDirectory = m_sRuntime + "/" + kLinkDirectoryName;
    SetLogObserver(&LinkEndpointTest::OnLog, this);
  }
  void TearDown() override {
    SetLogObserver(nullptr, nullptr);
    [[maybe_unused]] const int n = std::system(("rm -rf '" + m_sRuntime + "'").c_str());
  }

  static void OnLog(void* pContext, const char* pLine, std::size_t nLength) {
    auto* pSelf = static_cast<LinkEndpointTest*>(pContext);
    std::lock_guard<std::mutex> lock(pSelf->m_logMutex);
    pSelf->m_sLog.append(pLine, nLength);
  }
  std::string Log() {
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_sLog;
  }

  std::unique_ptr<CLinkEndpoint> OpenEndpoint() {
    std::string sError;
    auto pEndpoint = CLinkEndpoint::Open(m_sDirectory, &sError);
    EXPECT_TRUE(pEndpoint) << sError;
    return pEndpoint;
  }

  std::string m_sRuntime;
  std::string m_sDirectory;
  std::mutex m_logMutex;
  std::string m_sLog;
};

TEST_F(LinkEndpointTest, MessagesGoBothWaysAndTheEndpointsArePrivate) {
  auto pProgram = OpenEndpoint();
  auto pEditor = OpenEndpoint();
  ASSERT_TRUE(pProgram && pEditor);
  struct stat st {};
  ASSERT_EQ(::lstat(m_sDirectory.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::lstat(pProgram->Path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(pProgram->Path().rfind(m_sDirectory + "/" + std::to_string(::getpid()) + "-", 0), 0u);

  LinkMessage message;
  EXPECT_FALSE(pProgram->Receive(&message)) << "nothing waits yet, and it must not block";

  ASSERT_TRUE(pEditor->Post(pProgram->Path(), MakeLinkParam(LINK_DESTROY_MEMORY)));
  ASSERT_TRUE(pEditor->Post(pProgram->Path(), MakeLinkParam(LINK_UPDATE)));
  ASSERT_TRUE(WaitReadable(pProgram->Fd()));
  ASSERT_TRUE(pProgram->Receive(&message));
  EXPECT_EQ(message.Command(), LINK_DESTROY_MEMORY);
  EXPECT_EQ(message.sSender, pEditor->Path());
  EXPECT_EQ(message.nSenderPid, ::getpid());
  ASSERT_TRUE(pProgram->Receive(&message));
  EXPECT_EQ(message.Command(), LINK_UPDATE) << "in order";
  EXPECT_FALSE(pProgram->Receive(&message));

  // The answer goes to whoever sent.
  ASSERT_TRUE(pProgram->Post(message.sSender, MakeLinkParam(LINK_READY)));
  ASSERT_TRUE(WaitReadable(pEditor->Fd()));
  ASSERT_TRUE(pEditor->Receive(&message));
  EXPECT_EQ(message.Command(), LINK_READY);
  EXPECT_EQ(message.sSender, pProgram->Path());

  // Gone with its object.
  const std::string sEditor = pEditor->Path();
  pEditor.reset();
  EXPECT_NE(::access(sEditor.c_str(), F_OK), 0);
  EXPECT_FALSE(pProgram->Post(sEditor, MakeLinkParam(LINK_END_APPLICATION)));
  EXPECT_NE(Log().find("to " + sEditor + ": it is gone"), std::string::npos) << Log();
}

TEST_F(LinkEndpointTest, ASealedBlockTravelsWithCreateMemoryAndIsAdopted) {
  auto pProgram = OpenEndpoint();
  auto pEditor = OpenEndpoint();
  ASSERT_TRUE(pProgram && pEditor);
  const int nFdsBefore = CountOpenFds();
  {
    auto pBlock = SharedBlock::Create("ORB.DAT", 15 * 5008);
    ASSERT_TRUE(pBlock);
    std::memcpy(pBlock->Data() + 14 * 5008, "MAPEDIT", 7);
    ASSERT_TRUE(pEditor->Post(pProgram->Path(), MakeLinkParam(LINK_CREATE_MEMORY, 15), pBlock->Fd()));
    EXPECT_TRUE(pBlock->Fd() >= 0) << "the sender keeps its block";
  }
  LinkMessage message;
  ASSERT_TRUE(WaitReadable(pProgram->Fd()));
  ASSERT_TRUE(pProgram->Receive(&message));
  ASSERT_EQ(message.Command(), LINK_CREATE_MEMORY);
  ASSERT_EQ(message.Count(), 15);
  ASSERT_TRUE(message.fdBlock.Valid());
  EXPECT_EQ(::fcntl(message.fdBlock.Get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  std::string sError;
  auto pAdopted = SharedBlock::Adopt(std::move(message.fdBlock), std::size_t{message.Count()} * 5008, &sError);
  ASSERT_TRUE(pAdopted) << sError;
  EXPECT_EQ(std::memcmp(pAdopted->Data() + 14 * 5008, "MAPEDIT", 7), 0);
  pAdopted.reset();
  EXPECT_EQ(CountOpenFds(), nFdsBefore);
}

TEST_F(LinkEndpointTest, AnotherUsersMessageIsDroppedAndLogged) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to post as another user (uid 65534)";
  auto pProgram = OpenEndpoint();
  ASSERT_TRUE(pProgram);
  const std::string sChild = m_sDirectory + "/stranger";
  const pid_t nChild = ::fork();
  if (nChild == 0) {
    // The directory keeps other users from reaching the socket at all; to see the check
    // behind it, connect while still root, then become someone else and post.
    UniqueFd fd = RawSender(sChild);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, pProgram->Path().c_str(), sizeof address.sun_path - 1);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(4);
    const std::vector<std::uint8_t> bytes = EncodeLinkMessage(MakeLinkParam(LINK_DESTROY_MEMORY));
    ::_exit(::send(fd.Get(), bytes.data(), bytes.size(), 0) == 12 ? 0 : 5);
  }
  int nStatus = 0;
  ASSERT_EQ(::waitpid(nChild, &nStatus, 0), nChild);
  ASSERT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) << "the child could not post: " << nStatus;
  ASSERT_TRUE(WaitReadable(pProgram->Fd()));
  LinkMessage message;
  EXPECT_FALSE(pProgram->Receive(&message));
  EXPECT_NE(Log().find("sent by uid 65534 (pid " + std::to_string(nChild) + ")"), std::string::npos) << Log();
}

TEST_F(LinkEndpointTest, MalformedDatagramsAndStrayDescriptorsAreDroppedAndClosed) {
  auto pProgram = OpenEndpoint();
  ASSERT_TRUE(pProgram);
  UniqueFd sender = RawSender(m_sDirectory + "/raw");
  UniqueFd unbound(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const std::string sTo = pProgram->Path();
  const int nFdsBefore = CountOpenFds();

  std::vector<std::uint8_t> good = EncodeLinkMessage(MakeLinkParam(LINK_UPDATE));
  std::vector<std::uint8_t> create = EncodeLinkMessage(MakeLinkParam(LINK_CREATE_MEMORY, 1));
  std::vector<std::uint8_t> wrongMagic = good;
  wrongMagic[3] = 'X';
  std::vector<std::uint8_t> big(300, 0xAB);
  std::memcpy(big.data(), good.data(), good.size());
  {
    auto pBlock = SharedBlock::Create("stray", 5008);
    ASSERT_TRUE(pBlock);
    const int nBlock = pBlock->Fd();
    std::vector<int> many(12, nBlock);
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, good.data(), 11, {}));
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, big.data(), 13, {nBlock}));
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, big.data(), big.size(), {nBlock}));
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, wrongMagic.data(), wrongMagic.size(), {nBlock}));
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, good.data(), good.size(), {nBlock, nBlock}));
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, create.data(), create.size(), {}));
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, create.data(), create.size(), {nBlock, nBlock}));
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, create.data(), create.size(), many));
    ASSERT_TRUE(SendRaw(unbound.Get(), sTo, good.data(), good.size(), {}));
    ASSERT_TRUE(SendRaw(sender.Get(), sTo, good.data(), good.size(), {}));
  }
  ASSERT_TRUE(WaitReadable(pProgram->Fd()));
  LinkMessage message;
  ASSERT_TRUE(pProgram->Receive(&message)) << Log();
  EXPECT_EQ(message.Command(), LINK_UPDATE);
  EXPECT_EQ(message.sSender, m_sDirectory + "/raw");
  EXPECT_FALSE(message.fdBlock.Valid());
  EXPECT_FALSE(pProgram->Receive(&message));

  const std::string sLog = Log();
  for (const char* pReason : {"a datagram of 11 bytes", "a datagram of 13 bytes", "did not fit", "not a link message",
                              "command 5 with 2 descriptors", "LINK_CREATE_MEMORY without a block",
                              "LINK_CREATE_MEMORY with 2 descriptors", "without an endpoint path"}) {
    EXPECT_NE(sLog.find(pReason), std::string::npos) << pReason << " in\n" << sLog;
  }
  EXPECT_EQ(CountOpenFds(), nFdsBefore) << "every descriptor that came along was closed";
}

TEST_F(LinkEndpointTest, PostingToAFullPeerFailsAtOnce) {
  auto pProgram = OpenEndpoint();
  auto pEditor = OpenEndpoint();
  ASSERT_TRUE(pProgram && pEditor);
  const auto start = std::chrono::steady_clock::now();
  int nPosted = 0;
  while (nPosted < 100000 && pEditor->Post(pProgram->Path(), MakeLinkParam(LINK_UPDATE))) ++nPosted;
  EXPECT_LT(nPosted, 100000) << "the queue never filled";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(Log().find("its queue is full"), std::string::npos) << Log();
  LinkMessage message;
  int nReceived = 0;
  while (pProgram->Receive(&message)) ++nReceived;
  EXPECT_EQ(nReceived, nPosted) << "nothing accepted was lost";
}

TEST_F(LinkEndpointTest, UnsafeDirectoriesAreRefused) {
  std::string sError;
  EXPECT_FALSE(CLinkEndpoint::Open("relative/dir", &sError));
  EXPECT_NE(sError.find("not an absolute path"), std::string::npos) << sError;
  EXPECT_FALSE(CLinkEndpoint::Open(m_sRuntime + "/missing/orb-link", &sError));
  EXPECT_NE(sError.find("cannot create"), std::string::npos) << sError;

  ASSERT_EQ(::mkdir(m_sDirectory.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(m_sDirectory.c_str(), 0750), 0);
  EXPECT_FALSE(CLinkEndpoint::Open(m_sDirectory, &sError));
  EXPECT_NE(sError.find("has mode 0750, expected 0700"), std::string::npos) << sError;
  ASSERT_EQ(::chmod(m_sDirectory.c_str(), 0700), 0);

  const std::string sLink = m_sRuntime + "/link";
  ASSERT_EQ(::symlink(m_sDirectory.c_str(), sLink.c_str()), 0);
  EXPECT_FALSE(CLinkEndpoint::Open(sLink, &sError));
  EXPECT_NE(sError.find("is a symbolic link"), std::string::npos) << sError;

  const std::string sFile = m_sRuntime + "/file";
  ::close(::creat(sFile.c_str(), 0600));
  EXPECT_FALSE(CLinkEndpoint::Open(sFile, &sError));
  EXPECT_NE(sError.find("is not a directory"), std::string::npos) << sError;

  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(m_sDirectory.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(CLinkEndpoint::Open(m_sDirectory, &sError));
    EXPECT_NE(sError.find("belongs to uid 65534"), std::string::npos) << sError;
  }
  EXPECT_EQ(::access((m_sDirectory + "/" + std::to_string(::getpid()) + "-0").c_str(), F_OK), -1)
      << "nothing was bound in a refused directory";
}

TEST_F(LinkEndpointTest, AProcessesEndpointsAreFoundPastStaleOnes) {
  auto pFirst = OpenEndpoint();
  auto pSecond = OpenEndpoint();
  ASSERT_TRUE(pFirst && pSecond);
  std::vector<std::string> expected{pFirst->Path(), pSecond->Path()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(pFirst->EndpointsOfProcess(::getpid()), expected);

  // A process that died without removing its endpoint, and a name of ours whose socket was
  // closed (as a crashed earlier process with our pid would leave it).
  const pid_t nChild = ::fork();
  if (nChild == 0) {
    UniqueFd fd = RawSender(m_sDirectory + "/" + std::to_string(::getpid()) + "-0");
    ::_exit(0);
  }
  ASSERT_EQ(::waitpid(nChild, nullptr, 0), nChild);
  const std::string sDead = m_sDirectory + "/" + std::to_string(nChild) + "-0";
  ASSERT_EQ(::access(sDead.c_str(), F_OK), 0);
  const std::string sClosed = m_sDirectory + "/" + std::to_string(::getpid()) + "-999";
  RawSender(sClosed);
  const std::string sNotASocket = m_sDirectory + "/" + std::to_string(::getpid()) + "-998";
  ::close(::creat(sNotASocket.c_str(), 0600));

  EXPECT_TRUE(pFirst->EndpointsOfProcess(nChild).empty());
  EXPECT_NE(::access(sDead.c_str(), F_OK), 0) << "the dead process's endpoint was removed";
  EXPECT_EQ(pFirst->EndpointsOfProcess(::getpid()), expected);
  EXPECT_NE(::access(sClosed.c_str(), F_OK), 0);
  EXPECT_EQ(::access(sNotASocket.c_str(), F_OK), 0) << "only sockets are ever removed";
  EXPECT_TRUE(pFirst->EndpointsOfProcess(0).empty());
  EXPECT_TRUE(pFirst->EndpointsOfProcess(-1).empty());
}

}  // namespace
}  // namespace orb::platform
