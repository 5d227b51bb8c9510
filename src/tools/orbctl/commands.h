#pragma once
// One entry point per orbctl subcommand; each lives in its own file beside main.cpp.
// `args` holds the words after the subcommand's name. Exit status: 0 fine, 1 a problem
// found in the input, 2 unusable arguments or input.

#include <string>
#include <vector>

namespace orb::orbctl {

using Args = std::vector<std::string>;

struct Command {
  const char* pName;
  const char* pSummary;
  int (*pRun)(const Args& args);
};

}  // namespace orb::orbctl
