#pragma once
// Whether KWin will give the program its fake_input: KWin looks for an installed desktop
// entry whose X-KDE-Wayland-Interfaces names the interface and whose Exec is the very
// program that connects (its real path, links resolved).

#include <string>
#include <vector>

namespace orb::orbctl {

struct FakeInputGrant {
  std::string entry;  // the desktop entry that grants it; "" when none does
  std::string why;    // when none does: what was found instead
};

// Searches dataDirs/applications (in order, as XDG_DATA_HOME then XDG_DATA_DIRS) for an
// entry that grants fake_input to programPath.
FakeInputGrant FindFakeInputGrant(const std::string& programPath, const std::vector<std::string>& dataDirs);

// XDG_DATA_HOME (else ~/.local/share), then XDG_DATA_DIRS (else /usr/local/share:/usr/share).
std::vector<std::string> DesktopDataDirs();

}  // namespace orb::orbctl
