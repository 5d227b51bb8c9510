// orbctl: the companion command-line tool. Each subcommand is useful on its own.
#include <cstdio>
#include <cstring>
#include <iterator>

#include "tools/orbctl/commands.h"
#include "tools/orbctl/doctor_command.h"
#include "tools/orbctl/hid_command.h"
#include "tools/orbctl/link_command.h"
#include "tools/orbctl/play_command.h"
#include "tools/orbctl/standard_output.h"
#include "tools/orbctl/table_command.h"

namespace orb::orbctl {
namespace {

// Subcommands register here, one line each.
const Command kCommands[] = {
    {"table", "profile tables: dump to text, build from text, check", RunTableCommand},
    {"hid", "HID devices, report descriptors, the controller's events and its simulator", RunHidCommand},
    {"play", "run the command engine on a script of control events; print the key events", RunPlayCommand},
    {"link", "the editor link: post messages to orb or an editor, watch what is posted", RunLinkCommand},
    {"doctor", "what works for ORB in this session, and what to do about what does not", RunDoctorCommand},
    {nullptr, nullptr, nullptr},
};

void PrintUsage(std::FILE* pOut) {
  std::fprintf(pOut, "usage: orbctl COMMAND [ARGS...]\n\ncommands:\n");
  for (const Command& command : kCommands) {
    if (command.pName != nullptr) {
      std::fprintf(pOut, "  %-8s %s\n", command.pName, command.pSummary);
    }
  }
}

}  // namespace
}  // namespace orb::orbctl

int main(int argc, char** argv) {
  using namespace orb::orbctl;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return FinishStandardOutput("orbctl", argc < 2 ? 2 : 0);
  }
  for (const Command& command : kCommands) {
    if (command.pName != nullptr && std::strcmp(command.pName, argv[1]) == 0) {
      return FinishStandardOutput("orbctl", command.pRun(Args(argv + 2, argv + argc)));
    }
  }
  std::fprintf(stderr, "orbctl: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
