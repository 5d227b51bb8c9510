#include "proc_stats.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <string_view>

namespace orb::bench {
namespace {

std::uint64_t ValueAfter(std::string_view line, std::string_view key) {
  return std::strtoull(std::string(line.substr(key.size())).c_str(), nullptr, 10);
}

}  // namespace

std::map<pid_t, ThreadSwitches> ReadThreadSwitches(pid_t pid) {
  std::map<pid_t, ThreadSwitches> threads;
  const std::string sTasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* pDir = ::opendir(sTasks.c_str());
  if (pDir == nullptr) {
    return threads;
  }
  while (const dirent* pEntry = ::readdir(pDir)) {
    if (pEntry->d_name[0] < '0' || pEntry->d_name[0] > '9') {
      continue;
    }
    std::ifstream status(sTasks + "/" + pEntry->d_name + "/status");
    ThreadSwitches thread;
    bool blRead = false;
    for (std::string sLine; std::getline(status, sLine);) {
      const std::string_view line = sLine;
      if (line.starts_with("Name:\t")) {
        thread.sName = sLine.substr(6);
      } else if (line.starts_with("voluntary_ctxt_switches:")) {
        thread.nVoluntary = ValueAfter(line, "voluntary_ctxt_switches:");
        blRead = true;
      } else if (line.starts_with("nonvoluntary_ctxt_switches:")) {
        thread.nInvoluntary = ValueAfter(line, "nonvoluntary_ctxt_switches:");
      }
    }
    if (blRead) {  // not one that ended between the listing and the read
      threads[static_cast<pid_t>(std::atoi(pEntry->d_name))] = thread;
    }
  }
  ::closedir(pDir);
  return threads;
}

SwitchesOver Difference(const std::map<pid_t, ThreadSwitches>& before, const std::map<pid_t, ThreadSwitches>& after) {
  SwitchesOver result;
  result.nThreadsBefore = static_cast<int>(before.size());
  result.nThreadsAfter = static_cast<int>(after.size());
  for (const auto& [tid, now] : after) {
    ThreadSwitches then;
    if (const auto found = before.find(tid); found != before.end()) {
      then = found->second;
    }
    const std::uint64_t nVoluntary = now.nVoluntary - then.nVoluntary;
    const std::uint64_t nInvoluntary = now.nInvoluntary - then.nInvoluntary;
    result.nVoluntary += nVoluntary;
    result.nInvoluntary += nInvoluntary;
    if (nVoluntary + nInvoluntary != 0) {
      if (!result.sByThread.empty()) result.sByThread += ' ';
      result.sByThread += now.sName + "=" + std::to_string(nVoluntary + nInvoluntary);
    }
  }
  return result;
}

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string sLine; std::getline(status, sLine);) {
    if (sLine.starts_with("VmRSS:")) {
      return std::atol(sLine.c_str() + 6);
    }
  }
  return -1;
}

}  // namespace orb::bench
