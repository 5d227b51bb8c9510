#pragma once
// A program run by an interpreter (a Python or shell script, a Node program) is named by
// its script, not by the interpreter: /usr/bin/python3 running /usr/share/app/app is "app".
// These read the interpreter's command line, /proc/PID/cmdline.

#include <string_view>
#include <vector>

namespace orb::platform {

// The arguments of a cmdline text: NUL-terminated words. A last word without its NUL (a
// process that rewrote its arguments) still counts.
std::vector<std::string_view> SplitCmdline(std::string_view sCmdline);

// True when an executable's file name is a known interpreter's, with or without a version
// suffix of digits and dots ("python3.11", "perl5.36.0", "lua5.4").
bool IsInterpreter(std::string_view sExeFileName);

// What the interpreter runs, from its arguments (args[0] is the interpreter itself): the
// first argument that is not an option or an option's value, or the module after
// Python's -m. Empty when it runs no file: inline code (-c, -e), standard input ("-", a
// shell's -s), an interactive session, or an unknown interpreter.
std::string_view ChooseScript(std::string_view sExeFileName, const std::vector<std::string_view>& args);

}  // namespace orb::platform
