#include <cstdio>

#include "platform/keys/key_guard.h"
#include "shell/command_line.h"
#include "app/resident_app.h"

int main(int argc, char** argv) {
  // The key guard is this program started again by itself: nothing else of it runs there.
  if (orb::platform::IsKeyGuardCommand(argc, argv)) {
    return orb::platform::RunKeyGuard(argc, argv);
  }
  if (orb::IsHelpRequest(argc, argv)) {
    std::fputs(orb::UsageText(), stdout);
    return 0;
  }
  orb::CResidentApp app(argc, argv);
  app.InitInstance();  // false on every path: the program's life is inside it
  return app.ExitStatus();
}
