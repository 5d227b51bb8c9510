#include "shell/command_line.h"

#include <cstring>

namespace orb {

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) {
      commandLine += ' ';
    }
    commandLine += argv[i];
  }
  return commandLine;
}

std::string ToUpperAscii(std::string text) {
  for (char& ch : text) {
    if (ch >= 'a' && ch <= 'z') {
      ch = static_cast<char>(ch - 'a' + 'A');
    }
  }
  return text;
}

std::string ToLowerAscii(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') {
      ch = static_cast<char>(ch - 'A' + 'a');
    }
  }
  return text;
}

bool HasLogOption(const std::string& lowerCommandLine) {
  return lowerCommandLine.find("/m") != std::string::npos;
}

bool IsHelpRequest(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return true;
    }
  }
  return false;
}

const char* UsageText() {
  return "Usage: orb [/S] [/m]\n"
         "       orb --help\n"
         "\n"
         "Turns a SpinPad TK-4 jog/shuttle controller into key strokes for the\n"
         "application in front. The program lives in the system tray; only one copy\n"
         "runs per user.\n"
         "\n"
         "Options are found anywhere in the arguments (joined with single spaces),\n"
         "in any case:\n"
         "  /S          started from the session's autostart: stay only when the\n"
         "              setting \"Startup\" is on (tray menu \"Stay when the system begins\")\n"
         "  /m          write a diagnostic log to ORB.LOG in the current directory\n"
         "  -h, --help  print this text and exit\n"
         "\n"
         "Files:\n"
         "  ORB.DAT                         the profile table, in the current directory\n"
         "  ORB.LOG                         the diagnostic log (with /m), in the current\n"
         "                                  directory, recreated at each start\n"
         "  $XDG_CONFIG_HOME/TARN/ORB.conf  the settings \"Startup\" and \"ShowStay\"\n"
         "  $XDG_RUNTIME_DIR/               runtime files: the single-instance lock\n"
         "                                  \"Running ORB\" and its socket, the shared\n"
         "                                  profile table, the editor link\n"
         "\n"
         "Environment:\n"
         "  XDG_RUNTIME_DIR               runtime directory (default /tmp/orb-UID)\n"
         "  XDG_CONFIG_HOME               settings directory (default ~/.config)\n"
         "  LC_ALL, LC_MESSAGES, LANG     the first one set chooses the language:\n"
         "                                ja* Japanese, anything else English\n"
         "  ORB_HID=sim:PATH              use a simulated controller instead of hidraw\n"
         "  ORB_KEYS=xtest|uinput|wayland|record  force the key sink\n";
}

}  // namespace orb
