#pragma once
// Running the real `orb` in a test: its path, a private working directory, and what the
// test can see of it from outside (log file, runtime files, the instance socket).

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "support/temp_dir.h"

namespace orb::test {

inline constexpr auto kStartTimeout = std::chrono::seconds(20);
inline constexpr auto kExitTimeout = std::chrono::seconds(20);

std::filesystem::path RuntimeDir();  // $XDG_RUNTIME_DIR of the test
std::filesystem::path SocketFile();  // the instance socket in it

// Starts orb with `args` in `directory`; `env` adds to the test's environment (e.g. the
// Qt platform).
std::unique_ptr<ChildProcess> StartOrb(const std::vector<std::string>& args, const std::filesystem::path& directory,
                                       const std::vector<std::pair<std::string, std::string>>& env);

// Waits until the file holds `text`.
bool WaitForFileText(const std::filesystem::path& path, const std::string& text,
                     std::chrono::milliseconds timeout = kStartTimeout);

// Sends the second instance's question over the socket as a raw client and returns the
// reply line ("" when there is none within the timeout).
std::string AskOverSocket(const std::filesystem::path& socketPath, std::chrono::milliseconds timeout);

// True while some process holds the single-instance lock.
bool InstanceLockIsHeld();

bool ExitedWithZero(std::optional<int> status);

}  // namespace orb::test
