#include "orb_program.h"

#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orb::test {

std::filesystem::path RuntimeDir() { return std::getenv("XDG_RUNTIME_DIR"); }

std::filesystem::path SocketFile() { return RuntimeDir() / "Running ORB.sock"; }

std::unique_ptr<ChildProcess> StartOrb(const std::vector<std::string>& args, const std::filesystem::path& directory,
                                       const std::vector<std::pair<std::string, std::string>>& env) {
  std::vector<std::string> command = {ORB_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  return std::make_unique<ChildProcess>(command, directory, env);
}

bool WaitForFileText(const std::filesystem::path& path, const std::string& text, std::chrono::milliseconds timeout) {
  return WaitUntil([&] { return ReadFileText(path).find(text) != std::string::npos; }, timeout);
}

std::string AskOverSocket(const std::filesystem::path& socketPath, std::chrono::milliseconds timeout) {
  const int hSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.string().copy(address.sun_path, sizeof address.sun_path - 1);
  std::string reply;
  if (::connect(hSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::write(hSocket, "show\n", 5) == 5) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (reply.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd item{hSocket, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&item, 1, static_cast<int>(left.count())) <= 0) {
        break;
      }
      char buffer[64];
      const ssize_t n = ::read(hSocket, buffer, sizeof buffer);
      if (n <= 0) {
        break;
      }
      reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(hSocket);
  return reply;
}

bool InstanceLockIsHeld() {
  const int hFile = ::open((RuntimeDir() / "Running ORB").c_str(), O_RDWR | O_CLOEXEC);
  if (hFile < 0) {
    return false;
  }
  const bool blHeld = ::flock(hFile, LOCK_EX | LOCK_NB) != 0;
  ::close(hFile);  // drops the lock again if this test took it
  return blHeld;
}

bool ExitedWithZero(std::optional<int> status) { return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0; }

}  // namespace orb::test
