#pragma once
#include "tools/orbctl/commands.h"

namespace orb::orbctl {

// orbctl hid list|caps|decode|watch|simulate: HID devices, descriptors and the controller.
int RunHidCommand(const Args& args);

}  // namespace orb::orbctl
