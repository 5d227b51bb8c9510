#pragma once
// The link with an editing application's own host library, through which some editors
// report their jog/shuttle mode. Each profile may name a library; every distinct name is
// loaded once, and the current profile's library is opened, asked for the editor's mode
// and closed as profiles come and go. All of it runs on the main thread; only the
// PF_JOG write reaches a record that the device thread reads at the same time.
//
// The library's exports are plain C functions on 32-bit integers:
//   int32_t ZEPOpen(int32_t, int32_t, int32_t)   called with 1, 0, 0; non-zero = open
//   int32_t ZEPClose(int32_t)                    called with 1
//   int32_t VPOpen(int32_t)                      called with 0; non-zero = open
//   int32_t VPClose(void)
//   void*   QlnGetCommonMem(void)                the editor's common block; bit 0 of its
//                                                byte at offset 5156 is set in SHUTTLE mode
//
// Log lines print addresses as "0x%08x" of their low 32 bits, which is all the format
// holds on a 64-bit system. Where a line shows "the last error" it is errno: cleared
// before the lookups and calls of an operation, set to ENOENT when an entry point or the
// library itself is missing, and otherwise whatever the library's open call left there.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "profiles/profile_record.h"

namespace orb {

namespace platform {
class DynamicLibrary;
}

inline constexpr int HL_OPEN = 1;
inline constexpr int HL_CLOSE = 2;
inline constexpr int HL_GET_MODE = 3;
inline constexpr int HL_LOAD = 4;
inline constexpr int HL_FREE = 5;

// Offset of the mode byte in the editor's common block.
inline constexpr std::size_t kHostModeFlagOffset = 5156;

class CHostLibraryLink final {
 public:
  using SleepFunction = std::function<void(unsigned nMilliseconds)>;

  CHostLibraryLink();  // sleeps for real
  explicit CHostLibraryLink(SleepFunction sleep);
  ~CHostLibraryLink();  // frees the libraries, as HL_FREE
  CHostLibraryLink(const CHostLibraryLink&) = delete;
  CHostLibraryLink& operator=(const CHostLibraryLink&) = delete;

  // The live table that HL_LOAD reads the library names from. Only read during HL_LOAD.
  void SetTable(const ProfileRecord* pTable, std::uint32_t dwCount);
  // The current profile (m_pCurProfile): the kind of editor and the record whose PF_JOG
  // HL_GET_MODE sets. Null for none.
  void SetCurrentProfile(ProfileRecord* pProfile);
  // m_phCurLib := the library slot of record nRecord of the table last loaded. An index
  // outside the loaded table leaves no slot, which behaves as a library that did not load.
  void SetCurrentLibrarySlot(std::size_t nRecord);
  void ClearCurrentLibrarySlot() { m_phCurLib = nullptr; }

  // Runs one of the HL_* operations. True when it did what was asked: HL_OPEN the link
  // is open; HL_GET_MODE the editor's mode was read; HL_LOAD every named library loaded;
  // HL_CLOSE and HL_FREE always. An unknown operation is logged and returns false.
  bool HostLibraryControl(int op);

  // For the window and for tests: the loaded handle of record nRecord (null when none)
  // and how many distinct libraries are loaded.
  const void* LibraryHandle(std::size_t nRecord) const;
  std::size_t LoadedLibraryCount() const { return m_libraries.size(); }
  bool IsZepKind() const { return m_blZepKind; }

 private:
  bool OpenLink();
  void CloseLink();
  bool GetMode();
  bool LoadLibraries();
  void FreeLibraries();
  const platform::DynamicLibrary* CurrentLibrary() const;

  SleepFunction m_sleep;
  const ProfileRecord* m_pTable = nullptr;
  std::uint32_t m_dwComSet = 0;
  ProfileRecord* m_pCurProfile = nullptr;

  // Distinct loaded libraries, each owned once; m_phLibs holds one entry per record, and
  // records naming the same library (case ignored) point to the same one.
  std::vector<std::unique_ptr<platform::DynamicLibrary>> m_libraries;
  std::vector<const platform::DynamicLibrary*> m_phLibs;
  const platform::DynamicLibrary* const* m_phCurLib = nullptr;

  // Looked up by HL_OPEN and kept until HL_FREE (a failed open forgets only ZEPClose and
  // QlnGetCommonMem), so every HL_CLOSE of its kind calls the close it knows.
  bool m_blZepKind = false;          // remembered by HL_OPEN for HL_CLOSE
  void* m_pfnZepClose = nullptr;     // ZEPClose
  void* m_pfnVpClose = nullptr;      // VPClose
  void* m_pfnGetCommonMem = nullptr;  // QlnGetCommonMem
};

}  // namespace orb
