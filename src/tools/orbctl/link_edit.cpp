#include "tools/orbctl/link_edit.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/shm/shared_block.h"
#include "profiles/profile_table.h"
#include "tools/orbctl/link_session.h"
#include "tools/orbctl/stop_signal.h"
#include "tools/orbctl/table_command.h"

extern char** environ;

namespace orb::orbctl {

using namespace platform;

namespace {

// How often the text is looked at while the editor runs: soon enough that a save is in
// orb before the user has turned to the controller.
constexpr int kPollMs = 200;

// What tells a save: an editor that writes a new file and renames it changes the inode, one
// that writes in place the time or the size.
struct FileStamp {
  dev_t nDevice = 0;
  ino_t nInode = 0;
  off_t nSize = -1;
  timespec modified{};

  bool operator==(const FileStamp& other) const {
    return nDevice == other.nDevice && nInode == other.nInode && nSize == other.nSize &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

bool StampOf(const std::string& sPath, FileStamp* pStamp) {
  struct stat st {};
  if (::stat(sPath.c_str(), &st) != 0) return false;  // between an editor's unlink and its rename
  *pStamp = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  return true;
}

// The temporary text, removed again when the session ends however it ends.
class CTextFile final {
 public:
  bool Create(std::string_view text) {
    const char* pDirectory = std::getenv("TMPDIR");
    std::string sTemplate = std::string(pDirectory != nullptr && *pDirectory != '\0' ? pDirectory : "/tmp") +
                            "/orb-table-XXXXXX.toml";
    const int nFd = ::mkostemps(sTemplate.data(), 5, O_CLOEXEC);  // 0600
    if (nFd < 0) {
      LinkError("cannot make a temporary file " + sTemplate + ": " + std::strerror(errno));
      return false;
    }
    m_sPath = sTemplate;
    std::size_t nDone = 0;
    while (nDone < text.size()) {
      const ssize_t n = ::write(nFd, text.data() + nDone, text.size() - nDone);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        LinkError("cannot write " + m_sPath + ": " + std::strerror(errno));
        ::close(nFd);
        return false;
      }
      nDone += static_cast<std::size_t>(n);
    }
    return ::close(nFd) == 0 || LinkError("cannot write " + m_sPath + ": " + std::strerror(errno)) == 0;
  }
  ~CTextFile() {
    if (!m_sPath.empty()) ::unlink(m_sPath.c_str());
  }
  const std::string& Path() const { return m_sPath; }

 private:
  std::string m_sPath;
};

// The user's editor on sPath, through the shell as $EDITOR may hold arguments; -1 when
// no process could be made.
pid_t StartEditor(const std::string& sEditor, const std::string& sPath) {
  const std::string sCommand = sEditor + " \"$1\"";
  std::vector<char*> argv = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(sCommand.c_str()),
                             const_cast<char*>("sh"), const_cast<char*>(sPath.c_str()), nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Ctrl+C is the editor's to see; we ignore it meanwhile (as system() does), it must not.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t nChild = -1;
  const int nError = ::posix_spawn(&nChild, "/bin/sh", nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (nError != 0) {
    LinkError("cannot start the editor '" + sEditor + "': " + std::strerror(nError));
    return -1;
  }
  return nChild;
}

class CEditSession final {
 public:
  CEditSession(CProgramLink& link, std::chrono::milliseconds timeout, std::string sTimeoutShown)
      : m_link(link), m_timeout(timeout), m_sTimeout(std::move(sTimeoutShown)) {}

  // The first block, with the table orb saved last.
  bool Begin(std::vector<std::uint8_t> table) {
    std::string sError;
    m_pBlock = SharedBlock::Create("ORB.DAT", table.size(), &sError);
    if (!m_pBlock) return LinkError(sError) == 0;
    std::memcpy(m_pBlock->Data(), table.data(), table.size());
    m_table = std::move(table);
    return m_link.HandTable(*m_pBlock) || LinkError("the table did not reach " + Program()) == 0;
  }

  // The text as saved now: built and handed to orb, or its error shown.
  void OnSaved(const std::string& sPath) {
    std::vector<std::uint8_t> text;
    if (!ReadTableInput(sPath, kTableTextLimit, text, "orbctl link")) return;
    std::vector<std::uint8_t> table;
    std::string sError;
    if (!BuildTableBytes({reinterpret_cast<const char*>(text.data()), text.size()}, sPath, table, &sError)) {
      LinkError(sError + " (orb keeps the table before it)");
      return;
    }
    if (table.empty()) {
      LinkError(sPath + ": no [[profile]] (orb keeps the table before it)");
      return;
    }
    if (table.size() == m_table.size()) {
      WriteChanges(table);
    } else {
      HandNewBlock(std::move(table));
    }
  }

  std::string Program() const { return "orb (pid " + std::to_string(m_link.Pid()) + ")"; }

 private:
  // Only the records that changed: what orb wrote meanwhile into the others (its mode
  // bits) stays.
  void WriteChanges(const std::vector<std::uint8_t>& table) {
    bool blChanged = false;
    for (std::size_t n = 0; n < table.size(); n += kProfileRecordSize) {
      if (std::memcmp(table.data() + n, m_table.data() + n, kProfileRecordSize) != 0) {
        std::memcpy(m_pBlock->Data() + n, table.data() + n, kProfileRecordSize);
        blChanged = true;
      }
    }
    m_table = table;
    if (blChanged && !m_link.PostUpdate() && !m_link.Ended()) LinkError("cannot tell " + Program() + " of the change");
  }

  // Another count of records: a block of that size, as orb takes any table.
  void HandNewBlock(std::vector<std::uint8_t> table) {
    std::string sError;
    auto pBlock = SharedBlock::Create("ORB.DAT", table.size(), &sError);
    if (!pBlock) {
      LinkError(sError + " (orb keeps the table before it)");
      return;
    }
    std::memcpy(pBlock->Data(), table.data(), table.size());
    const CProgramLink::Answer answer = m_link.TakeTable(m_timeout);
    if (answer == CProgramLink::Answer::Ended || answer == CProgramLink::Answer::Unreachable) return;
    if (answer == CProgramLink::Answer::Silent) {
      // Datagrams keep their order: a late orb still releases its view before it takes this.
      LinkError("the program did not answer within " + m_sTimeout + " s: " + Program() +
                "; the table is handed anyway");
    }
    if (!m_link.HandTable(*pBlock)) {
      LinkError("the table did not reach " + Program());
      return;
    }
    m_pBlock = std::move(pBlock);
    m_table = std::move(table);
  }

  CProgramLink& m_link;
  std::chrono::milliseconds m_timeout;
  std::string m_sTimeout;
  std::unique_ptr<SharedBlock> m_pBlock;
  std::vector<std::uint8_t> m_table;  // as last handed to orb
};

// The editor's status as our own: 0 for a clean end.
int EditorStatus(int nStatus, const std::string& sEditor) {
  if (WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0) return 0;
  if (WIFEXITED(nStatus) && (WEXITSTATUS(nStatus) == 126 || WEXITSTATUS(nStatus) == 127)) {
    return LinkError("cannot start the editor '" + sEditor + "' (the shell says why above)");
  }
  if (WIFEXITED(nStatus)) {
    return LinkError("the editor ended with status " + std::to_string(WEXITSTATUS(nStatus)));
  }
  return LinkError("the editor ended by signal " + std::to_string(WTERMSIG(nStatus)));
}

std::string ChosenEditor() {
  for (const char* pName : {"VISUAL", "EDITOR"}) {
    const char* pValue = std::getenv(pName);
    if (pValue != nullptr && *pValue != '\0') return pValue;
  }
  return "vi";
}

// Until the editor ends: each save to orb, and SIGTERM or SIGHUP passed on to the editor.
int RunEditor(CEditSession& session, CProgramLink& link, const std::string& sPath) {
  const int nStop = StopSignalPipe({SIGTERM, SIGHUP});
  if (nStop < 0) return LinkError(std::string("pipe: ") + std::strerror(errno));
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction oldInt {}, oldQuit {};
  ::sigaction(SIGINT, &ignore, &oldInt);
  ::sigaction(SIGQUIT, &ignore, &oldQuit);

  const std::string sEditor = ChosenEditor();
  FileStamp stamp;
  StampOf(sPath, &stamp);
  const pid_t nEditor = StartEditor(sEditor, sPath);
  int nResult = 2;
  if (nEditor > 0) {
    bool blStopped = false;
    for (;;) {
      pollfd fds[2] = {{nStop, POLLIN, 0}, {link.Fd(), POLLIN, 0}};
      if (::poll(fds, 2, kPollMs) < 0 && errno != EINTR) break;
      if (fds[0].revents != 0 && !blStopped) {
        blStopped = true;
        ::kill(nEditor, SIGTERM);
      }
      link.Drain();
      int nStatus = 0;
      const pid_t nDone = ::waitpid(nEditor, &nStatus, WNOHANG);
      FileStamp now;
      if (StampOf(sPath, &now) && !(now == stamp)) {
        stamp = now;
        session.OnSaved(sPath);  // a last save also counts, just before the editor ended
      }
      if (nDone == nEditor) {
        nResult = EditorStatus(nStatus, sEditor);
        break;
      }
      if (nDone < 0 && errno != EINTR) {
        nResult = LinkError(std::string("waitpid: ") + std::strerror(errno));
        break;
      }
    }
  }
  ::sigaction(SIGINT, &oldInt, nullptr);
  ::sigaction(SIGQUIT, &oldQuit, nullptr);
  return nResult;
}

}  // namespace

int EditProgramTable(long nPid, std::chrono::milliseconds timeout) {
  auto pLink = CProgramLink::Connect(nPid);
  if (!pLink) return 2;
  const std::string sProgram = "orb (pid " + std::to_string(pLink->Pid()) + ")";
  // Read once before the table is taken: a file that cannot be read costs orb nothing.
  const std::string sDataFile = "/proc/" + std::to_string(pLink->Pid()) + "/cwd/ORB.DAT";
  std::vector<std::uint8_t> table;
  if (!ReadTableInput(sDataFile, kTableFileLimit, table, "orbctl link")) {
    return LinkError("the table of " + sProgram + " is not in its data file; nothing was taken");
  }
  if (TableRecordCount(table.size()) == 0) {
    return LinkError(sDataFile + " holds no whole profile record; nothing was taken");
  }
  char szShown[32];
  std::snprintf(szShown, sizeof szShown, "%g", static_cast<double>(timeout.count()) / 1000.0);
  switch (pLink->TakeTable(timeout)) {
    case CProgramLink::Answer::Ready:
      break;
    case CProgramLink::Answer::Silent:
      pLink->PostEndApplication();  // should it yet release its table, it takes its own back
      return LinkError(std::string("the program did not answer within ") + szShown + " s: " + sProgram);
    case CProgramLink::Answer::Ended:
      return LinkError(sProgram + " ended");
    case CProgramLink::Answer::Unreachable:
      return LinkError("cannot post to " + sProgram);
  }
  // Again, now that orb holds still: a save just before the request is in the file.
  std::vector<std::uint8_t> latest;
  if (ReadTableInput(sDataFile, kTableFileLimit, latest, "orbctl link") && TableRecordCount(latest.size()) != 0) {
    table = std::move(latest);
  }
  table.resize(TableRecordCount(table.size()) * kProfileRecordSize);  // the block holds whole records

  CEditSession session(*pLink, timeout, szShown);
  CTextFile text;
  // Whatever fails here, the end below gives orb a table: ours, or else its data file.
  int nResult = 2;
  if (session.Begin(table) && text.Create(DumpTableForEditing(table))) {
    nResult = RunEditor(session, *pLink, text.Path());
  }
  if (pLink->Ended()) return LinkError(sProgram + " ended while the table was edited");
  if (!pLink->PostEndApplication()) return LinkError("cannot hand the table back to " + sProgram);
  return nResult;
}

}  // namespace orb::orbctl
