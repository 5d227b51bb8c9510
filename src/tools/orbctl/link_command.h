#pragma once
#include "tools/orbctl/commands.h"

namespace orb::orbctl {

// orbctl link send|watch: post editor-link messages to a process, or print the ones posted
// to an endpoint of our own.
int RunLinkCommand(const Args& args);

}  // namespace orb::orbctl
