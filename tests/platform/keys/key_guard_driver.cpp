// Holds keys through the real XTest sink, with the key guard started as orb starts it:
//   key_guard_driver RUNTIME_DIR MODE [VK ...]      (virtual keys in hex)
// MODE start: the guard's start-up only (releases what an earlier run left), then ends.
//      hold:  presses the keys, prints "down", ends normally when its input closes.
//      segv, abort: presses the keys, prints "down", and crashes so at the first line of
//             input.
// Its log is RUNTIME_DIR/driver.log.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/write_log.h"
#include "platform/keys/key_guard.h"
#include "platform/keys/key_sink.h"

int main(int argc, char** argv) {
  if (orb::platform::IsKeyGuardCommand(argc, argv)) {
    return orb::platform::RunKeyGuard(argc, argv);
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: key_guard_driver RUNTIME_DIR start|hold|segv|abort [VK ...]\n");
    return 2;
  }
  const std::string runtimeDir = argv[1];
  const std::string mode = argv[2];
  orb::StartLog((runtimeDir + "/driver.log").c_str());
  orb::platform::StartKeyGuard(runtimeDir);
  if (mode == "start") {
    orb::StopLog();
    return 0;
  }
  std::string reason;
  auto pSink = orb::platform::CreateXTestKeySink(nullptr, &reason);
  if (!pSink) {
    std::fprintf(stderr, "key_guard_driver: %s\n", reason.c_str());
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    pSink->KeyEvent(static_cast<std::uint8_t>(std::strtoul(argv[i], nullptr, 16)), 0, false);
  }
  std::printf("down\n");
  std::fflush(stdout);
  char c = 0;
  const ssize_t nRead = ::read(STDIN_FILENO, &c, 1);
  if (mode == "segv" && nRead > 0) {
    volatile int* pNowhere = nullptr;
    *pNowhere = 1;
  }
  if (mode == "abort" && nRead > 0) {
    std::abort();
  }
  pSink.reset();
  orb::StopLog();
  return 0;
}
