#include "profiles/host_library.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "base/ascii_text.h"
#include "base/tick_count.h"
#include "base/write_log.h"
#include "platform/library/dynamic_library.h"
#include "platform/time/clock.h"
#include "profiles/profile_table.h"

namespace orb {
namespace {

using ZepOpenFunction = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t);
using ZepCloseFunction = std::int32_t (*)(std::int32_t);
using VpOpenFunction = std::int32_t (*)(std::int32_t);
using VpCloseFunction = std::int32_t (*)();
using GetCommonMemFunction = void* (*)();

template <typename Function>
Function AsFunction(void* pAddress) {
  return reinterpret_cast<Function>(pAddress);
}

// "0x%08x" of an address: its low 32 bits.
unsigned Low32(const void* pAddress) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pAddress) & 0xFFFFFFFFu);
}

bool IsLumKind(std::string_view exeName) {
  return EqualsIgnoringCase(exeName, "LUMEDIT.EXE") || EqualsIgnoringCase(exeName, "LUMEDIT-M1.EXE");
}

std::string_view ExeName(const ProfileRecord* pProfile) {
  return pProfile == nullptr ? std::string_view() : FieldText(pProfile->szExeName);
}

// An entry point of the library, or null with errno ENOENT when it or the library is missing.
void* Lookup(const platform::DynamicLibrary* pLib, const char* pName) {
  void* pAddress = pLib == nullptr ? nullptr : pLib->FindSymbol(pName);
  if (pAddress == nullptr) {
    errno = ENOENT;
  }
  return pAddress;
}

std::uint32_t ReadWord(const unsigned char* pBytes) {
  std::uint32_t dwValue = 0;
  std::memcpy(&dwValue, pBytes, sizeof dwValue);
  return dwValue;
}

// dwFlags of a live record, which the device thread reads while this thread writes it.
// The record is packed, so the field is reached by its offset; a table is an array of
// 5008-byte records (a multiple of 4) and dwFlags sits at 596, so an aligned table keeps
// every record's flags aligned.
std::uint32_t* FlagsWord(ProfileRecord* pProfile) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<unsigned char*>(pProfile) +
                                          offsetof(ProfileRecord, dwFlags));
}

void DefaultSleep(unsigned nMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds)); }

}  // namespace

CHostLibraryLink::CHostLibraryLink() : CHostLibraryLink(DefaultSleep) {}

CHostLibraryLink::CHostLibraryLink(SleepFunction sleep) : m_sleep(std::move(sleep)) {}

CHostLibraryLink::~CHostLibraryLink() { FreeLibraries(); }

void CHostLibraryLink::SetTable(const ProfileRecord* pTable, std::uint32_t dwCount) {
  m_pTable = pTable;
  m_dwComSet = pTable == nullptr ? 0 : dwCount;
}

void CHostLibraryLink::SetCurrentProfile(ProfileRecord* pProfile) { m_pCurProfile = pProfile; }

void CHostLibraryLink::SetCurrentLibrarySlot(std::size_t nRecord) {
  m_phCurLib = nRecord < m_phLibs.size() ? &m_phLibs[nRecord] : nullptr;
}

const void* CHostLibraryLink::LibraryHandle(std::size_t nRecord) const {
  if (nRecord >= m_phLibs.size() || m_phLibs[nRecord] == nullptr) {
    return nullptr;
  }
  return m_phLibs[nRecord]->Handle();
}

const platform::DynamicLibrary* CHostLibraryLink::CurrentLibrary() const {
  return m_phCurLib == nullptr ? nullptr : *m_phCurLib;
}

bool CHostLibraryLink::HostLibraryControl(int op) {
  switch (op) {
    case HL_OPEN:
      return OpenLink();
    case HL_CLOSE:
      CloseLink();
      return true;
    case HL_GET_MODE:
      return GetMode();
    case HL_LOAD:
      return LoadLibraries();
    case HL_FREE:
      FreeLibraries();
      return true;
    default:
      WriteLog("HostLibraryControl: unknown operation %d\r\n", op);
      return false;
  }
}

bool CHostLibraryLink::OpenLink() {
  const std::string_view exeName = ExeName(m_pCurProfile);
  m_blZepKind = EqualsIgnoringCase(exeName, "ZEPEDIT.EXE");
  WriteLog("Zephyr Edit ? %s\r\n", m_blZepKind ? "true" : "false");

  const platform::DynamicLibrary* pLib = CurrentLibrary();
  std::int32_t iResult = 0;
  errno = 0;
  if (m_blZepKind) {
    void* pfnOpen = Lookup(pLib, "ZEPOpen");
    m_pfnZepClose = Lookup(pLib, "ZEPClose");
    WriteLog("Error Code : 0x%08x\r\n", static_cast<unsigned>(errno));
    WriteLog("ZEPOpen : 0x%08x, ZEPClose : 0x%08x\r\nZEPOpen : ", Low32(pfnOpen), Low32(m_pfnZepClose));
    if (pfnOpen != nullptr) {
      iResult = AsFunction<ZepOpenFunction>(pfnOpen)(1, 0, 0);
    }
  } else {
    void* pfnOpen = Lookup(pLib, "VPOpen");
    m_pfnVpClose = Lookup(pLib, "VPClose");
    WriteLog("ZEPOpen : 0x%08x, ZEPClose : 0x%08x\r\nVPOpen : ", Low32(pfnOpen), Low32(m_pfnVpClose));
    if (IsLumKind(exeName)) {
      iResult = 1;  // these editors need no open call; their block is there while they run
    } else if (pfnOpen != nullptr) {
      iResult = AsFunction<VpOpenFunction>(pfnOpen)(0);
    }
  }

  if (iResult != 0) {
    WriteLog("%d\r\n", iResult);
    m_pfnGetCommonMem = Lookup(pLib, "QlnGetCommonMem");
    WriteLog("QlnGetCommonMem : 0x%08x\r\n", Low32(m_pfnGetCommonMem));
    return true;
  }
  const int iError = errno;
  WriteLog("Error : 0x%08x(%ld)\r\n", static_cast<unsigned>(iError), static_cast<long>(iError));
  // Nothing to read from a link that did not open. VPClose stays known: the editor's
  // library is told to close whether or not its open succeeded.
  m_pfnZepClose = nullptr;
  m_pfnGetCommonMem = nullptr;
  return false;
}

void CHostLibraryLink::CloseLink() {
  if (m_blZepKind) {
    WriteLog("ZEPClose : ");
    if (m_pfnZepClose != nullptr) {
      AsFunction<ZepCloseFunction>(m_pfnZepClose)(1);
    }
  } else if (!IsLumKind(ExeName(m_pCurProfile))) {
    WriteLog("VPClose : ");
    std::int32_t iResult = 1;
    if (m_pfnVpClose != nullptr) {
      iResult = AsFunction<VpCloseFunction>(m_pfnVpClose)();
    }
    WriteLog("%d\r\n", iResult);
  }
}

bool CHostLibraryLink::GetMode() {
  WriteLog("Get Jog/Shuttle Mode\r\n\r\n");
  bool blRead = false;
  if (m_pfnGetCommonMem != nullptr) {
    const auto* pBlock = static_cast<const unsigned char*>(AsFunction<GetCommonMemFunction>(m_pfnGetCommonMem)());
    if (pBlock != nullptr) {
      const unsigned char* pFlag = pBlock + kHostModeFlagOffset;
      // The editor changes its block on its own; read the flag word once and use that copy.
      const std::uint32_t dwFlag = ReadWord(pFlag);
      WriteLog("lpcFlag : 0x%08x(%d)\r\n", Low32(pBlock), static_cast<int>(ReadWord(pBlock)));
      WriteLog("lpcFlag : 0x%08x(%d)\r\n", Low32(pFlag), static_cast<int>(dwFlag));
      WriteLog("lpdwFlag : 0x%08x(%d)\r\n", Low32(pFlag), static_cast<int>(dwFlag));
      if (m_pCurProfile != nullptr) {
        std::uint32_t* pdwFlags = FlagsWord(m_pCurProfile);
        if (reinterpret_cast<std::uintptr_t>(pdwFlags) % std::atomic_ref<std::uint32_t>::required_alignment != 0) {
          WriteLog("HostLibraryControl: profile flags at 0x%08x not aligned\r\n", Low32(pdwFlags));
        } else {
          std::atomic_ref<std::uint32_t> flags(*pdwFlags);
          // Byte 5156 is the low byte of the little-endian word read above.
          if ((dwFlag & 1u) != 0) {
            flags.fetch_and(~PF_JOG);
          } else {
            flags.fetch_or(PF_JOG);
          }
          blRead = true;
        }
      }
    }
  }
  m_sleep(1);
  return blRead;
}

bool CHostLibraryLink::LoadLibraries() {
  // A table handed over without HL_FREE first must not leave the old handles loaded.
  FreeLibraries();
  m_phLibs.assign(m_dwComSet, nullptr);
  bool blAllLoaded = true;
  std::unordered_map<std::string, const platform::DynamicLibrary*> loadedByName;
  for (std::uint32_t i = 0; i < m_dwComSet; ++i) {
    const std::string_view libName = FieldText(m_pTable[i].szLibName);
    if (libName.empty()) {
      continue;
    }
    const std::string name(libName);
    const auto [it, blNew] = loadedByName.emplace(AsciiUpperCopy(libName), nullptr);
    if (!blNew) {
      WriteLog("Already exist: ");
    } else {
      auto pLib = std::make_unique<platform::DynamicLibrary>();
      if (pLib->Open(name)) {
        it->second = pLib.get();
        m_libraries.push_back(std::move(pLib));
      } else {
        blAllLoaded = false;  // a null handle, shared by every record naming this library
      }
    }
    m_phLibs[i] = it->second;
    WriteLog("Corvina:LoadLibrary(%s) : 0x%08x : %d\r\n", name.c_str(),
             Low32(it->second == nullptr ? nullptr : it->second->Handle()), TickCount());
  }
  return blAllLoaded;
}

void CHostLibraryLink::FreeLibraries() {
  // Entry points and the current slot point into what is freed here; calling through them
  // afterwards would run unloaded code.
  m_pfnZepClose = nullptr;
  m_pfnVpClose = nullptr;
  m_pfnGetCommonMem = nullptr;
  m_phCurLib = nullptr;
  m_phLibs.clear();
  m_phLibs.shrink_to_fit();
  m_libraries.clear();  // each distinct library closed exactly once
}

}  // namespace orb
