#include "platform/foreground/desktop_entry.h"

#include <cstdlib>

#include "base/bounded_read.h"
#include "platform/process/app_name.h"

namespace orb::platform {
namespace {

// An entry is a few kilobytes; a file far beyond that is not one worth reading.
constexpr ReadLimit kEntryLimit{256 * 1024, "a desktop entry"};
// Longer than any file name: such an app_id is not an entry's.
constexpr std::size_t kMaxAppIdBytes = 255;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// The value of the [Desktop Entry] group's plain Exec key (not Exec[xx], not another
// group's Exec, which belongs to an action).
std::string_view ExecValue(std::string_view text) {
  bool blInMain = false;
  while (!text.empty()) {
    const std::size_t nEnd = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, nEnd));
    text.remove_prefix(nEnd == std::string_view::npos ? text.size() : nEnd + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      blInMain = line == "[Desktop Entry]";
      continue;
    }
    if (!blInMain) continue;
    const std::size_t nEquals = line.find('=');
    if (nEquals != std::string_view::npos && Trimmed(line.substr(0, nEquals)) == "Exec") {
      return Trimmed(line.substr(nEquals + 1));
    }
  }
  return {};
}

// Exec's words: blanks separate them, double quotes group them, a backslash inside
// quotes takes the next character as it is. Field codes (%U) stay words of their own.
std::vector<std::string> ExecWords(std::string_view exec) {
  std::vector<std::string> words;
  std::string word;
  bool blInWord = false;
  bool blQuoted = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (blQuoted) {
      if (c == '"') {
        blQuoted = false;
      } else if (c == '\\' && i + 1 < exec.size()) {
        word += exec[++i];
      } else {
        word += c;
      }
    } else if (c == ' ' || c == '\t') {
      if (blInWord) words.push_back(std::move(word));
      word.clear();
      blInWord = false;
    } else {
      blInWord = true;
      if (c == '"') {
        blQuoted = true;
      } else {
        word += c;
      }
    }
  }
  if (blInWord) words.push_back(std::move(word));
  return words;
}

bool IsAssignment(const std::string& word) {
  const std::size_t nEquals = word.find('=');
  return nEquals != std::string::npos && nEquals > 0 && word.front() != '-';
}

std::string ReadEntry(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!ReadRegularFile(path.c_str(), kEntryLimit, bytes, error)) return {};
  return std::string(bytes.begin(), bytes.end());
}

void AddFolders(std::vector<std::string>& folders, std::string_view list) {
  while (!list.empty()) {
    const std::size_t nEnd = list.find(':');
    const std::string_view folder = list.substr(0, nEnd);
    // Relative folders are not meant by the base directory rules and would depend on ours.
    if (!folder.empty() && folder.front() == '/') folders.push_back(std::string(folder) + "/applications");
    list.remove_prefix(nEnd == std::string_view::npos ? list.size() : nEnd + 1);
  }
}

}  // namespace

std::string DesktopEntryProgram(std::string_view text) {
  const std::vector<std::string> words = ExecWords(ExecValue(text));
  std::size_t i = 0;
  if (i < words.size() && FileNameOf(words[i]) == "env") {
    ++i;
    while (i < words.size() && (IsAssignment(words[i]) || (words[i].size() > 1 && words[i].front() == '-'))) ++i;
  }
  if (i >= words.size() || words[i].front() == '%') return {};
  if (FileNameOf(words[i]) == "flatpak") {
    for (std::size_t j = i + 1; j < words.size(); ++j) {
      if (words[j].rfind("--command=", 0) == 0 && words[j].size() > 10) return words[j].substr(10);
    }
  }
  return words[i];
}

std::vector<std::string> DesktopEntryFolders() {
  std::vector<std::string> folders;
  const char* pDataHome = std::getenv("XDG_DATA_HOME");
  const char* pHome = std::getenv("HOME");
  if (pDataHome != nullptr && pDataHome[0] == '/') {
    AddFolders(folders, pDataHome);
  } else if (pHome != nullptr && pHome[0] == '/') {
    folders.push_back(std::string(pHome) + "/.local/share/applications");
  }
  const char* pDataDirs = std::getenv("XDG_DATA_DIRS");
  AddFolders(folders, pDataDirs != nullptr && pDataDirs[0] != '\0' ? pDataDirs : "/usr/local/share:/usr/share");
  return folders;
}

std::string ApplicationOfAppId(std::string_view appId, const std::vector<std::string>& folders) {
  if (appId.empty()) return {};
  // Any client chooses its app_id: one that could leave the folder is only a name.
  const bool blPlainName = appId.size() <= kMaxAppIdBytes && appId.find('/') == std::string_view::npos &&
                           appId.find('\0') == std::string_view::npos && appId.front() != '.';
  if (blPlainName) {
    for (const std::string& folder : folders) {
      const std::string program = DesktopEntryProgram(ReadEntry(folder + "/" + std::string(appId) + ".desktop"));
      const std::string_view name = FileNameOf(program);
      if (!name.empty()) return AppNameOf(name);
    }
  }
  return AppNameOf(appId);
}

}  // namespace orb::platform
