#pragma once
// The command line as the program sees it: its arguments (without the program's name)
// joined with single spaces. Options are found as substrings anywhere in it, ignoring
// case, so "/m", "/M" and "x/mlog" all switch the log on.

#include <string>

namespace orb {

std::string JoinCommandLine(int argc, const char* const* argv);

// Case changes touch ASCII letters only, so UTF-8 arguments pass through intact.
std::string ToUpperAscii(std::string text);
std::string ToLowerAscii(std::string text);

// "/m" in the lower-cased command line: write the diagnostic log.
bool HasLogOption(const std::string& lowerCommandLine);

// An argument that is exactly "--help" or "-h".
bool IsHelpRequest(int argc, const char* const* argv);

// What --help prints.
const char* UsageText();

}  // namespace orb
