#include "profiles/host_library.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dlfcn.h>

#include "base/write_log.h"
#include "platform/library/dynamic_library.h"
#include "test_host_library.h"

namespace orb {
namespace {

constexpr const char* kHostLib = "ORBTESTHOST.SO";
constexpr const char* kNoMemLib = "ORBTESTHOST-NOMEM.SO";

std::string Hex8(const void* pAddress) {
  char szText[16];
  std::snprintf(szText, sizeof szText, "0x%08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pAddress) & 0xFFFFFFFFu));
  return szText;
}

bool IsLoaded(const char* pName) {
  void* h = ::dlopen(pName, RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) {
    return false;
  }
  ::dlclose(h);
  return true;
}

ProfileRecord MakeRecord(const char* pExe, const char* pLib, std::uint32_t dwFlags = PF_HOSTMODE | PF_JOGSHUTTLE) {
  ProfileRecord record{};
  std::snprintf(record.szAppName, sizeof record.szAppName, "%s", pExe);
  std::snprintf(record.szExeName, sizeof record.szExeName, "%s", pExe);
  std::snprintf(record.szLibName, sizeof record.szLibName, "%s", pLib);
  record.dwFlags = dwFlags;
  return record;
}

// The test's own reference to a stand-in library: its controls, counters and the
// addresses the link is expected to log.
struct TestHost final {
  explicit TestHost(const char* pName) : h(::dlopen(pName, RTLD_NOW)) {}
  ~TestHost() {
    if (h != nullptr) {
      ::dlclose(h);
    }
  }
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  void* Symbol(const char* pName) const { return ::dlsym(h, pName); }
  void Reset(std::int32_t iOpenResult) const {
    reinterpret_cast<TestHostResetFunction>(Symbol("TestHostReset"))(iOpenResult);
  }
  void SetShuttle(bool blShuttle) const {
    reinterpret_cast<TestHostSetShuttleFunction>(Symbol("TestHostSetShuttle"))(blShuttle ? 1 : 0);
  }
  const TestHostCounters& Counters() const {
    return *reinterpret_cast<TestHostGetCountersFunction>(Symbol("TestHostGetCounters"))();
  }
  const unsigned char* Block() const {
    return static_cast<const unsigned char*>(
        reinterpret_cast<TestHostCommonBlockFunction>(Symbol("TestHostCommonBlock"))());
  }

  void* h;
};

class HostLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogObserver(
        [](void* pContext, const char* pLine, std::size_t nLength) {
          static_cast<std::string*>(pContext)->append(pLine, nLength);
        },
        &m_log);
    ASSERT_NE(m_host.h, nullptr) << ::dlerror();
    m_host.Reset(1);
  }
  void TearDown() override { SetLogObserver(nullptr, nullptr); }

  // Loads `table` into a fresh link and makes record nCurrent the current profile.
  void Select(std::size_t nCurrent) {
    m_link.SetTable(m_table.data(), static_cast<std::uint32_t>(m_table.size()));
    m_link.HostLibraryControl(HL_LOAD);
    m_link.SetCurrentProfile(&m_table[nCurrent]);
    m_link.SetCurrentLibrarySlot(nCurrent);
    m_log.clear();
  }

  bool LogHas(const std::string& text) const { return m_log.find(text) != std::string::npos; }
  // HL_CLOSE, and what it logged.
  std::string Close() {
    m_log.clear();
    m_link.HostLibraryControl(HL_CLOSE);
    return m_log;
  }

  std::string m_log;
  TestHost m_host{kHostLib};
  std::vector<ProfileRecord> m_table;
  std::vector<unsigned> m_sleeps;
  CHostLibraryLink m_link{[this](unsigned nMs) { m_sleeps.push_back(nMs); }};
};

TEST_F(HostLibraryTest, ZepEditKindOpensWithOneZeroZeroReadsTheModeAndCloses) {
  m_table = {MakeRecord("ZepEdit.exe", kHostLib)};
  Select(0);
  ASSERT_TRUE(m_link.HostLibraryControl(HL_OPEN));
  EXPECT_TRUE(m_link.IsZepKind());
  const TestHostCounters& counters = m_host.Counters();
  EXPECT_EQ(counters.nZepOpen, 1);
  EXPECT_EQ(counters.iZepOpenArgs[0], 1);
  EXPECT_EQ(counters.iZepOpenArgs[1], 0);
  EXPECT_EQ(counters.iZepOpenArgs[2], 0);
  EXPECT_EQ(counters.nVpOpen, 0);
  EXPECT_EQ(m_log, "Zephyr Edit ? true\r\nError Code : 0x00000000\r\nZEPOpen : " + Hex8(m_host.Symbol("ZEPOpen")) +
                       ", ZEPClose : " + Hex8(m_host.Symbol("ZEPClose")) + "\r\nZEPOpen : 1\r\nQlnGetCommonMem : " +
                       Hex8(m_host.Symbol("QlnGetCommonMem")) + "\r\n");

  m_log.clear();
  m_host.SetShuttle(true);
  m_table[0].dwFlags |= PF_JOG;
  EXPECT_TRUE(m_link.HostLibraryControl(HL_GET_MODE));
  EXPECT_EQ(m_table[0].dwFlags, PF_HOSTMODE | PF_JOGSHUTTLE);
  const std::string flagAddress = Hex8(m_host.Block() + kTestHostFlagOffset);
  EXPECT_EQ(m_log, "Get Jog/Shuttle Mode\r\n\r\nlpcFlag : " + Hex8(m_host.Block()) + "(4660)\r\nlpcFlag : " +
                       flagAddress + "(241)\r\nlpdwFlag : " + flagAddress + "(241)\r\n");

  m_host.SetShuttle(false);
  EXPECT_TRUE(m_link.HostLibraryControl(HL_GET_MODE));
  EXPECT_EQ(m_table[0].dwFlags, PF_HOSTMODE | PF_JOGSHUTTLE | PF_JOG);
  EXPECT_EQ(m_sleeps, (std::vector<unsigned>{1, 1}));

  m_log.clear();
  EXPECT_TRUE(m_link.HostLibraryControl(HL_CLOSE));
  EXPECT_EQ(counters.nZepClose, 1);
  EXPECT_EQ(counters.iZepCloseArg, 1);
  EXPECT_EQ(m_log, "ZEPClose : ");
  // ZEPClose stays known: a second close (a fallback profile chosen next) calls it again.
  m_log.clear();
  m_link.HostLibraryControl(HL_CLOSE);
  EXPECT_EQ(counters.nZepClose, 2);
  EXPECT_EQ(m_log, "ZEPClose : ");
}

TEST_F(HostLibraryTest, LumEditKindsNeedNoOpenOrCloseCall) {
  for (const char* pExe : {"LUMEDIT.EXE", "lumedit-m1.exe"}) {
    SCOPED_TRACE(pExe);
    m_host.Reset(1);
    m_table = {MakeRecord("OTHER.EXE", ""), MakeRecord(pExe, kHostLib)};
    Select(1);
    ASSERT_TRUE(m_link.HostLibraryControl(HL_OPEN));
    EXPECT_EQ(m_log, "Zephyr Edit ? false\r\nZEPOpen : " + Hex8(m_host.Symbol("VPOpen")) + ", ZEPClose : " +
                         Hex8(m_host.Symbol("VPClose")) + "\r\nVPOpen : 1\r\nQlnGetCommonMem : " +
                         Hex8(m_host.Symbol("QlnGetCommonMem")) + "\r\n");
    m_host.SetShuttle(false);
    EXPECT_TRUE(m_link.HostLibraryControl(HL_GET_MODE));
    EXPECT_NE(m_table[1].dwFlags & PF_JOG, 0u);
    m_log.clear();
    m_link.HostLibraryControl(HL_CLOSE);
    EXPECT_EQ(m_log, "");
    const TestHostCounters& counters = m_host.Counters();
    EXPECT_EQ(counters.nZepOpen + counters.nVpOpen + counters.nZepClose + counters.nVpClose, 0);
  }
}

TEST_F(HostLibraryTest, OtherEditorsUseVpOpenAndVpClose) {
  m_table = {MakeRecord("CAPTURE.EXE", kHostLib)};
  Select(0);
  ASSERT_TRUE(m_link.HostLibraryControl(HL_OPEN));
  EXPECT_FALSE(m_link.IsZepKind());
  EXPECT_EQ(m_host.Counters().nVpOpen, 1);
  EXPECT_EQ(m_host.Counters().iVpOpenArg, 0);
  EXPECT_TRUE(LogHas("\r\nVPOpen : 1\r\nQlnGetCommonMem : 0x"));
  m_host.SetShuttle(true);
  EXPECT_TRUE(m_link.HostLibraryControl(HL_GET_MODE));
  EXPECT_EQ(m_table[0].dwFlags & PF_JOG, 0u);
  EXPECT_EQ(Close(), "VPClose : 3\r\n");
  EXPECT_EQ(m_host.Counters().nVpClose, 1);
  EXPECT_EQ(Close(), "VPClose : 3\r\n");
  EXPECT_EQ(m_host.Counters().nVpClose, 2);
}

TEST_F(HostLibraryTest, FailedOpenForgetsTheCommonBlockButStillCallsVpClose) {
  m_host.Reset(0);  // VPOpen refuses
  m_table = {MakeRecord("CAPTURE.EXE", kHostLib, PF_HOSTMODE | PF_JOG)};
  Select(0);
  EXPECT_FALSE(m_link.HostLibraryControl(HL_OPEN));
  EXPECT_TRUE(LogHas("\r\nVPOpen : Error : 0x00000000(0)\r\n"));
  m_host.SetShuttle(true);
  EXPECT_FALSE(m_link.HostLibraryControl(HL_GET_MODE));
  EXPECT_EQ(m_table[0].dwFlags, PF_HOSTMODE | PF_JOG);
  EXPECT_EQ(m_host.Counters().nGetCommonMem, 0);
  EXPECT_EQ(Close(), "VPClose : 3\r\n");
  EXPECT_EQ(m_host.Counters().nVpClose, 1);
}

TEST_F(HostLibraryTest, FailedZepOpenForgetsZepClose) {
  m_host.Reset(0);  // ZEPOpen refuses
  m_table = {MakeRecord("ZEPEDIT.EXE", kHostLib, PF_HOSTMODE | PF_JOG)};
  Select(0);
  EXPECT_FALSE(m_link.HostLibraryControl(HL_OPEN));
  EXPECT_EQ(m_host.Counters().nZepOpen, 1);
  EXPECT_EQ(Close(), "ZEPClose : ");
  EXPECT_EQ(m_host.Counters().nZepClose, 0);
}

TEST_F(HostLibraryTest, LibraryThatDoesNotLoadLeavesOneSharedNullHandle) {
  m_table = {MakeRecord("CAPTURE.EXE", "ORBNOSUCHHOST.SO"), MakeRecord("LUMEDIT.EXE", "orbNoSuchHost.so", PF_HOSTMODE)};
  m_link.SetTable(m_table.data(), 2);
  EXPECT_FALSE(m_link.HostLibraryControl(HL_LOAD));
  EXPECT_EQ(m_link.LoadedLibraryCount(), 0u);
  EXPECT_EQ(m_link.LibraryHandle(0), nullptr);
  EXPECT_EQ(m_link.LibraryHandle(1), nullptr);
  EXPECT_TRUE(LogHas("DynamicLibrary: dlopen(ORBNOSUCHHOST.SO) failed: "));
  EXPECT_TRUE(LogHas("Corvina:LoadLibrary(ORBNOSUCHHOST.SO) : 0x00000000 : "));
  EXPECT_TRUE(LogHas("Already exist: Corvina:LoadLibrary(orbNoSuchHost.so) : 0x00000000 : "));
  EXPECT_FALSE(LogHas("dlopen(orbNoSuchHost.so)")) << "a failed name is not tried again";

  // Another kind: the open fails for want of VPOpen.
  m_link.SetCurrentProfile(&m_table[0]);
  m_link.SetCurrentLibrarySlot(0);
  m_log.clear();
  EXPECT_FALSE(m_link.HostLibraryControl(HL_OPEN));
  EXPECT_EQ(m_log, "Zephyr Edit ? false\r\nZEPOpen : 0x00000000, ZEPClose : 0x00000000\r\nVPOpen : Error : 0x00000002(2)\r\n");

  // A LUMEDIT profile opens but finds no common block, so its stored mode stays.
  m_link.SetCurrentProfile(&m_table[1]);
  m_link.SetCurrentLibrarySlot(1);
  EXPECT_TRUE(m_link.HostLibraryControl(HL_OPEN));
  EXPECT_TRUE(LogHas("VPOpen : 1\r\nQlnGetCommonMem : 0x00000000\r\n"));
  EXPECT_FALSE(m_link.HostLibraryControl(HL_GET_MODE));
  EXPECT_EQ(m_table[1].dwFlags, PF_HOSTMODE);
  EXPECT_EQ(m_sleeps, (std::vector<unsigned>{1}));
}

TEST_F(HostLibraryTest, MissingEntryPointGivesZeroWithoutACall) {
  ASSERT_FALSE(IsLoaded(kNoMemLib));
  TestHost noMem(kNoMemLib);
  ASSERT_NE(noMem.h, nullptr) << ::dlerror();
  noMem.Reset(1);
  m_table = {MakeRecord("CAPTURE.EXE", kNoMemLib), MakeRecord("ZEPEDIT.EXE", kNoMemLib, PF_HOSTMODE | PF_JOG)};
  Select(0);
  EXPECT_FALSE(m_link.HostLibraryControl(HL_OPEN));
  EXPECT_EQ(m_log, "Zephyr Edit ? false\r\nZEPOpen : 0x00000000, ZEPClose : " + Hex8(noMem.Symbol("VPClose")) +
                       "\r\nVPOpen : Error : 0x00000002(2)\r\n");

  // ZEPOpen is there, QlnGetCommonMem is not: open, but the mode cannot be read.
  m_link.SetCurrentProfile(&m_table[1]);
  m_link.SetCurrentLibrarySlot(1);
  m_log.clear();
  EXPECT_TRUE(m_link.HostLibraryControl(HL_OPEN));
  EXPECT_EQ(noMem.Counters().nZepOpen, 1);
  EXPECT_TRUE(LogHas("\r\nZEPOpen : 1\r\nQlnGetCommonMem : 0x00000000\r\n"));
  EXPECT_FALSE(m_link.HostLibraryControl(HL_GET_MODE));
  EXPECT_EQ(m_table[1].dwFlags, PF_HOSTMODE | PF_JOG);
  EXPECT_EQ(m_sleeps, (std::vector<unsigned>{1}));
  m_link.HostLibraryControl(HL_CLOSE);
  EXPECT_EQ(noMem.Counters().nZepClose, 1);
}

TEST_F(HostLibraryTest, RecordsNamingOneLibraryShareAHandleFreedExactlyOnce) {
  ASSERT_FALSE(IsLoaded(kNoMemLib));
  m_table = {MakeRecord("A.EXE", kNoMemLib), MakeRecord("B.EXE", "orbtesthost-nomem.so"), MakeRecord("C.EXE", ""),
             MakeRecord("D.EXE", "OrbTestHost-NoMem.SO")};
  m_link.SetTable(m_table.data(), static_cast<std::uint32_t>(m_table.size()));
  ASSERT_TRUE(m_link.HostLibraryControl(HL_LOAD));
  EXPECT_EQ(m_link.LoadedLibraryCount(), 1u);
  ASSERT_NE(m_link.LibraryHandle(0), nullptr);
  EXPECT_EQ(m_link.LibraryHandle(1), m_link.LibraryHandle(0));
  EXPECT_EQ(m_link.LibraryHandle(2), nullptr);
  EXPECT_EQ(m_link.LibraryHandle(3), m_link.LibraryHandle(0));

  // Loading again (a table handed over without a free first) does not pile up references.
  ASSERT_TRUE(m_link.HostLibraryControl(HL_LOAD));
  EXPECT_EQ(m_link.LoadedLibraryCount(), 1u);

  // Hold a reference of our own across HL_FREE: if the link released the library more
  // than once, it would take ours with it and our dlclose would fail.
  void* hOwn = ::dlopen(kNoMemLib, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(hOwn, nullptr);
  EXPECT_TRUE(m_link.HostLibraryControl(HL_FREE));
  EXPECT_EQ(m_link.LoadedLibraryCount(), 0u);
  EXPECT_EQ(m_link.LibraryHandle(0), nullptr);
  EXPECT_EQ(::dlclose(hOwn), 0);
  EXPECT_FALSE(IsLoaded(kNoMemLib)) << "the link kept a reference";
}

TEST_F(HostLibraryTest, FreeForgetsEntryPointsAndTheCurrentSlot) {
  m_table = {MakeRecord("CAPTURE.EXE", kHostLib)};
  Select(0);
  ASSERT_TRUE(m_link.HostLibraryControl(HL_OPEN));
  m_link.HostLibraryControl(HL_FREE);
  // The library may be gone; nothing may call into it now.
  EXPECT_FALSE(m_link.HostLibraryControl(HL_GET_MODE));
  m_log.clear();
  m_link.HostLibraryControl(HL_CLOSE);
  EXPECT_EQ(m_log, "VPClose : 1\r\n");
  EXPECT_EQ(m_host.Counters().nVpClose, 0);
  EXPECT_EQ(m_host.Counters().nGetCommonMem, 0);
  EXPECT_FALSE(m_link.HostLibraryControl(HL_OPEN));  // no slot: as a library that did not load

  EXPECT_FALSE(m_link.HostLibraryControl(0));
  EXPECT_TRUE(LogHas("HostLibraryControl: unknown operation 0\r\n"));
}

TEST_F(HostLibraryTest, NamesWithADirectoryAreRefused) {
  m_table = {MakeRecord("CAPTURE.EXE", "./ORBTESTHOST.SO"), MakeRecord("CAPTURE.EXE", "/tmp/ORBTESTHOST.SO")};
  m_link.SetTable(m_table.data(), 2);
  EXPECT_FALSE(m_link.HostLibraryControl(HL_LOAD));
  EXPECT_EQ(m_link.LibraryHandle(0), nullptr);
  EXPECT_EQ(m_link.LibraryHandle(1), nullptr);
  EXPECT_TRUE(LogHas("DynamicLibrary: refused \"./ORBTESTHOST.SO\": not a bare file name\r\n"));
  EXPECT_TRUE(LogHas("DynamicLibrary: refused \"/tmp/ORBTESTHOST.SO\": not a bare file name\r\n"));
}

TEST_F(HostLibraryTest, DynamicLibraryOwnsItsHandle) {
  platform::DynamicLibrary lib;
  EXPECT_FALSE(lib.Open(""));
  EXPECT_FALSE(lib.Open("lib/ORBTESTHOST.SO"));
  EXPECT_FALSE(lib.IsOpen());
  EXPECT_EQ(lib.FindSymbol("VPClose"), nullptr);

  ASSERT_FALSE(IsLoaded(kNoMemLib));
  ASSERT_TRUE(lib.Open(kNoMemLib));
  EXPECT_NE(lib.FindSymbol("VPClose"), nullptr);
  EXPECT_EQ(lib.FindSymbol("VPOpen"), nullptr);
  platform::DynamicLibrary moved(std::move(lib));
  EXPECT_FALSE(lib.IsOpen());  // NOLINT(bugprone-use-after-move): a moved-from library is closed
  EXPECT_TRUE(moved.IsOpen());
  moved.Close();
  EXPECT_FALSE(IsLoaded(kNoMemLib));
}

}  // namespace
}  // namespace orb
