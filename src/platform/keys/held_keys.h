#pragma once
// The keys this program holds down, kept where they outlive it: a small file in the
// runtime directory, mapped shared with the key guard (key_guard.h). A sink marks a key
// before it goes down and clears it once the release is on its way, so the record is never
// short of what the server holds; a process killed at any instant leaves a record the
// guard, or the next start, can release. Sinks whose keys the system lets go together with
// the process (uinput: the device goes with its file) keep no record.
//
// Codes are the sink's own (an X keycode, an evdev code), below kCodes. Marking and
// clearing are single atomic byte stores into the mapping: no system call, no lock.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orb::platform {

class HeldKeyRecord final {
 public:
  static constexpr std::size_t kCodes = 1024;

  // What the record says: who wrote it, for which sink and target, and the codes down.
  struct Contents {
    int nPid = 0;
    std::uint64_t nStartTime = 0;
    std::string sink;    // the sink's Name(), "" before any sink used the record
    std::string target;  // where its keys went (the X display)
    std::vector<std::uint16_t> codes;
  };

  // Maps the file at `path` (created, 0600, when missing). Null, with the reason in
  // *pError, unless it is a regular file of this user reached without a symbolic link.
  static std::unique_ptr<HeldKeyRecord> Open(const std::string& path, std::string* pError);
  // Maps an open file (the guard gets it as a descriptor).
  static std::unique_ptr<HeldKeyRecord> FromFd(int nFd, std::string* pError);
  ~HeldKeyRecord();
  HeldKeyRecord(const HeldKeyRecord&) = delete;
  HeldKeyRecord& operator=(const HeldKeyRecord&) = delete;

  int Fd() const { return m_nFd; }

  // Empty contents for a file that holds no record (new, cut short, another format).
  Contents Read() const;
  // Made this process's: no sink, no codes, its pid and start time.
  void Claim(int nPid, std::uint64_t nStartTime);
  // Named by the sink that marks the codes from now on.
  void SetSink(const char* pSink, const std::string& target);
  void MarkDown(std::uint16_t nCode);
  void MarkUp(std::uint16_t nCode);
  // Clears the record's owner and codes (nothing left to release).
  void Clear();

  // The record the running program's sinks mark, set once at start-up by the key guard;
  // null when none (tests, tools): the sinks then keep no record.
  static HeldKeyRecord* Installed();
  static void Install(HeldKeyRecord* pRecord);

 private:
  struct Layout;
  HeldKeyRecord(int nFd, Layout* pLayout) : m_nFd(nFd), m_pLayout(pLayout) {}

  int m_nFd;
  Layout* m_pLayout;
};

}  // namespace orb::platform
