#pragma once
// No key this program pressed stays down after it ends, however it ends. The X server
// keeps an XTest key down when its client dies, and autorepeat then types on; so:
//
// - The sinks mark the keys they hold in a record in the runtime directory
//   (held_keys.h), a shared mapping that outlives the process.
// - A guard process, this program started again with a command of its own, waits for the
//   program's end (a pidfd: SIGKILL included) and releases what the record still holds,
//   with a connection of its own, within milliseconds.
// - A crash signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) writes one byte to the
//   guard's pipe, the only thing a signal handler may safely do here, and the guard
//   releases at once, while the crashing process still dumps its core.
// - A start releases what an earlier instance left down when that instance no longer
//   runs (its guard could not: killed with it, a reboot of the display does not matter).
//
// The guard reads no display of its own: the record names the sink and its target, so
// any sink whose keys outlive the process can be guarded the same way.

#include <string>

namespace orb::platform {

// At start, once this process is the one instance: releases what an earlier instance left
// down, claims the record in `runtimeDir`, starts the guard and catches crash signals.
// Key sinks made afterwards mark their keys in the record. Every failure is logged and the
// program goes on without that part. Call once, before the key sink is made.
void StartKeyGuard(const std::string& runtimeDir);

// The guard's entry: main() hands its arguments here first.
bool IsKeyGuardCommand(int argc, char** argv);
int RunKeyGuard(int argc, char** argv);

// The record's file in a runtime directory.
std::string HeldKeyRecordPath(const std::string& runtimeDir);

}  // namespace orb::platform
