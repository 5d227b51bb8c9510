#pragma once
// The real `orb` as the user runs it, minus the hardware and the display: a simulated
// controller in its own process (`orbctl hid simulate`, reached through ORB_HID=sim:PATH),
// Qt's offscreen platform (or the X display, when asked), no foreground tracker (ORB_FOREGROUND=none: the fallback
// profile becomes current once the controller connects), key strokes recorded, and a
// scratch directory for its working directory, runtime directory and settings. The
// resident notice is turned off in the settings so that only the hidden window remains.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "scratch_dir.h"
#include "spawned_program.h"

namespace orb::bench {

// Where the program runs: Qt's offscreen platform with no tracker; the X display of
// DISPLAY (its tray host, if any, gets the icon); or the Wayland session of
// WAYLAND_DISPLAY with the backends the program chooses there itself.
enum class OrbPlatform { kOffscreen, kX11, kWaylandSession };

// Null when the platform can be had here, else why not.
const char* MissingFor(OrbPlatform platform);

class OrbRig final {
 public:
  OrbRig() = default;
  ~OrbRig();
  OrbRig(const OrbRig&) = delete;
  OrbRig& operator=(const OrbRig&) = delete;

  // The directories and settings, ORB.DAT built by `orbctl table build` from `tableToml`,
  // and the simulator listening. False with *pError.
  bool Prepare(std::string_view tableToml, std::string* pError);

  // Runs `orb /m`; the simulator must be there (Prepare).
  bool StartOrb(std::string* pError, OrbPlatform platform = OrbPlatform::kOffscreen);
  // Start-up has run its course: the controller is connected, the profile of the moment
  // chosen and the instance socket answers "hidden".
  bool WaitUntilSettled(std::string* pError);
  void StopOrb();

  const SpawnedProgram& Orb() const { return *m_pOrb; }
  pid_t OrbPid() const { return m_pOrb ? m_pOrb->Pid() : -1; }
  pid_t SimulatorPid() const { return m_pSimulator ? m_pSimulator->Pid() : -1; }
  std::filesystem::path LogFile() const { return m_dir / "ORB.LOG"; }
  std::filesystem::path InstanceSocket() const { return m_dir / "run" / "Running ORB.sock"; }

 private:
  ScratchDir m_dir;
  std::unique_ptr<SpawnedProgram> m_pSimulator;
  std::unique_ptr<SpawnedProgram> m_pOrb;
};

// Tries to connect until something listens on the socket; each miss waits `step`.
bool WaitUntilListening(const std::filesystem::path& socketPath, std::chrono::milliseconds timeout,
                        std::chrono::microseconds step);

}  // namespace orb::bench
