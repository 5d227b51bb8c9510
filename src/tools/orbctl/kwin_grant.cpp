#include "tools/orbctl/kwin_grant.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace orb::orbctl {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kInterface = "org_kde_kwin_fake_input";

std::string Trim(std::string_view text) {
  const auto nFirst = text.find_first_not_of(" \t");
  if (nFirst == std::string_view::npos) return {};
  const auto nLast = text.find_last_not_of(" \t\r");
  return std::string(text.substr(nFirst, nLast - nFirst + 1));
}

// The program an Exec line runs: its first word, a double-quoted one unquoted.
std::string ExecProgram(const std::string& exec) {
  if (!exec.empty() && exec.front() == '"') {
    const auto nEnd = exec.find('"', 1);
    return exec.substr(1, nEnd == std::string::npos ? std::string::npos : nEnd - 1);
  }
  return exec.substr(0, exec.find_first_of(" \t"));
}

bool NamesInterface(const std::string& list) {
  std::string_view rest(list);
  while (!rest.empty()) {
    const auto nEnd = rest.find_first_of(",;");
    if (Trim(rest.substr(0, nEnd)) == kInterface) return true;
    rest = nEnd == std::string_view::npos ? std::string_view() : rest.substr(nEnd + 1);
  }
  return false;
}

std::string RealPath(const std::string& path) {
  std::error_code error;
  const fs::path real = fs::canonical(path, error);
  return error ? std::string() : real.string();
}

}  // namespace

std::vector<std::string> DesktopDataDirs() {
  std::vector<std::string> dirs;
  const char* pHome = std::getenv("HOME");
  const char* pDataHome = std::getenv("XDG_DATA_HOME");
  if (pDataHome != nullptr && pDataHome[0] == '/') {
    dirs.emplace_back(pDataHome);
  } else if (pHome != nullptr && pHome[0] == '/') {
    dirs.emplace_back(std::string(pHome) + "/.local/share");
  }
  const char* pDataDirs = std::getenv("XDG_DATA_DIRS");
  std::string_view rest = pDataDirs != nullptr && pDataDirs[0] != '\0' ? pDataDirs : "/usr/local/share:/usr/share";
  while (!rest.empty()) {
    const auto nColon = rest.find(':');
    if (const std::string_view dir = rest.substr(0, nColon); !dir.empty() && dir.front() == '/') dirs.emplace_back(dir);
    rest = nColon == std::string_view::npos ? std::string_view() : rest.substr(nColon + 1);
  }
  return dirs;
}

FakeInputGrant FindFakeInputGrant(const std::string& programPath, const std::vector<std::string>& dataDirs) {
  FakeInputGrant grant;
  const std::string program = RealPath(programPath);
  for (const std::string& dir : dataDirs) {
    std::error_code error;
    for (fs::directory_iterator it(fs::path(dir) / "applications", error), end; !error && it != end;
         it.increment(error)) {
      if (it->path().extension() != ".desktop") continue;
      std::ifstream file(it->path());
      std::string line, exec, interfaces, group;
      while (std::getline(file, line)) {
        if (!line.empty() && line.front() == '[') {
          group = Trim(line);
        } else if (group == "[Desktop Entry]" && line.rfind("Exec=", 0) == 0) {
          exec = Trim(std::string_view(line).substr(5));
        } else if (group == "[Desktop Entry]" && line.rfind("X-KDE-Wayland-Interfaces=", 0) == 0) {
          interfaces = line.substr(25);
        }
      }
      if (!NamesInterface(interfaces)) continue;
      if (!program.empty() && RealPath(ExecProgram(exec)) == program) {
        grant.entry = it->path().string();
        grant.why.clear();
        return grant;
      }
      grant.why = it->path().string() + " asks for it for " + ExecProgram(exec) + ", not for " + programPath;
    }
  }
  if (grant.why.empty()) {
    grant.why = "no installed desktop entry asks for it";
  }
  return grant;
}

}  // namespace orb::orbctl
