#include "tools/orbctl/hid_command.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <fcntl.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/bounded_read.h"
#include "base/hex_text.h"
#include "device/control_code.h"
#include "device/device_discovery.h"
#include "device/hid_device_record.h"
#include "platform/hid/controller_descriptor.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_parser.h"
#include "platform/hid/sim_server.h"
#include "tools/orbctl/hid_json.h"
#include "tools/orbctl/stop_signal.h"

namespace orb::orbctl {

using namespace platform;

namespace {

const char kUsage[] =
    "usage: orbctl hid list\n"
    "       orbctl hid caps [--hex] [--collection N] FILE\n"
    "       orbctl hid decode [--hex] FILE REPORT_HEX\n"
    "       orbctl hid watch\n"
    "       orbctl hid simulate --socket PATH [--descriptor FILE [--hex]] [--vendor HEX] [--product HEX]\n"
    "FILE is a report descriptor, binary or (--hex) hex text with # comments.\n"
    "ORB_HID=sim:PATH makes list and watch use the simulator on socket PATH.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// The parser takes no descriptor above kHidMaxDescriptorBytes; its hex text may carry a
// comment on every item besides the digits.
constexpr ReadLimit kDescriptorLimit{kHidMaxDescriptorBytes, "a report descriptor"};
constexpr ReadLimit kHexDescriptorLimit{64 * kHidMaxDescriptorBytes, "a report descriptor's hex text"};
// The simulator's commands are a word and a report's bytes in hex.
constexpr std::size_t kMaxCommandLine = 64 * 1024;

bool ReadDescriptorFile(const std::string& sPath, bool blHex, std::vector<std::uint8_t>* pBytes) {
  std::string sWhy;
  if (!ReadRegularFile(sPath.c_str(), blHex ? kHexDescriptorLimit : kDescriptorLimit, *pBytes, sWhy)) {
    std::fprintf(stderr, "orbctl hid: cannot read %s: %s\n", sPath.c_str(), sWhy.c_str());
    return false;
  }
  if (!blHex) {
    return true;
  }
  const std::string sText(pBytes->begin(), pBytes->end());
  if (!ParseHexText(sText, pBytes, &sWhy)) {
    std::fprintf(stderr, "orbctl hid: %s: %s\n", sPath.c_str(), sWhy.c_str());
    return false;
  }
  return true;
}

// Options before the positional words: --hex, and the ones given in `valued` with a value.
struct Options {
  bool blHex = false;
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<std::string> words;
  const std::string* Find(const char* pName) const {
    for (const auto& [sName, sValue] : values) {
      if (sName == pName) return &sValue;
    }
    return nullptr;
  }
};

bool ParseOptions(const Args& args, std::size_t nFirst, std::initializer_list<const char*> valued, Options* pOut) {
  for (std::size_t i = nFirst; i < args.size(); ++i) {
    const std::string& s = args[i];
    if (s == "--hex") {
      pOut->blHex = true;
      continue;
    }
    bool blValued = false;
    for (const char* pName : valued) blValued = blValued || s == pName;
    if (blValued) {
      if (i + 1 >= args.size()) return false;
      pOut->values.emplace_back(s, args[++i]);
      continue;
    }
    if (s.size() > 1 && s[0] == '-' && !(s.size() > 1 && std::isdigit(static_cast<unsigned char>(s[1])))) return false;
    pOut->words.push_back(s);
  }
  return true;
}

int List() {
  HidBackend& backend = CurrentHidBackend();
  const std::vector<HidDeviceInfo> devices = backend.Enumerate();
  if (devices.empty()) std::printf("no HID devices (%s)\n", backend.Name().c_str());
  for (const HidDeviceInfo& info : devices) {
    const bool blSupported = IsKnownController(info.nVendorId, info.nProductId);
    std::printf("%-20s %04X:%04X v%04X %-40s %s\n", info.sPath.c_str(), info.nVendorId, info.nProductId,
                info.nVersion, ("\"" + info.sName + "\"").c_str(), blSupported ? "supported" : "-");
    // ORB would find this one and fail to open it: say why, and what to do about it.
    if (blSupported) {
      const std::string sProblem = backend.OpenProblem(info.sPath);
      if (!sProblem.empty()) std::printf("  %s\n", sProblem.c_str());
    }
  }
  return 0;
}

bool ParseAll(const std::vector<std::uint8_t>& bytes, std::vector<HidPreparsedData>* pCollections) {
  std::string sWhy;
  if (!ParseReportDescriptor(bytes.data(), bytes.size(), pCollections, &sWhy)) {
    std::fprintf(stderr, "orbctl hid: report descriptor refused: %s\n", sWhy.c_str());
    return false;
  }
  return true;
}

int Caps(const Args& args) {
  Options options;
  if (!ParseOptions(args, 1, {"--collection"}, &options) || options.words.size() != 1) return Usage();
  std::size_t nCollection = 0;
  if (const std::string* pValue = options.Find("--collection")) nCollection = std::strtoul(pValue->c_str(), nullptr, 10);
  std::vector<std::uint8_t> bytes;
  if (!ReadDescriptorFile(options.words[0], options.blHex, &bytes)) return 2;
  std::vector<HidPreparsedData> collections;
  if (!ParseAll(bytes, &collections)) return 1;
  if (nCollection >= collections.size()) {
    std::fprintf(stderr, "orbctl hid: the descriptor has %zu top-level collection(s)\n", collections.size());
    return 2;
  }
  std::fputs(CapsJson(collections[nCollection], nCollection, collections.size()).c_str(), stdout);
  return 0;
}

int Decode(const Args& args) {
  Options options;
  if (!ParseOptions(args, 1, {}, &options) || options.words.size() != 2) return Usage();
  std::vector<std::uint8_t> bytes;
  if (!ReadDescriptorFile(options.words[0], options.blHex, &bytes)) return 2;
  std::vector<HidPreparsedData> collections;
  if (!ParseAll(bytes, &collections)) return 1;
  std::vector<std::uint8_t> report;
  std::string sWhy;
  if (!ParseHexText(options.words[1], &report, &sWhy) || report.empty()) {
    std::fprintf(stderr, "orbctl hid: report: %s\n", sWhy.empty() ? "no bytes" : sWhy.c_str());
    return 2;
  }
  HidDeviceRecord record;
  record.sDevicePath = options.words[0];
  record.pPreparsedData = std::make_unique<HidPreparsedData>(std::move(collections.front()));
  HidP_GetCaps(*record.pPreparsedData, &record.caps);
  BuildDataItems(record);
  // The report as hidraw gives it: without an id byte when the device numbers none.
  if (!record.pPreparsedData->UsesReportIds()) report.insert(report.begin(), 0);
  if (report.size() > record.input.report.size()) {
    std::fprintf(stderr, "orbctl hid: the report is %zu bytes; input reports have at most %zu\n", report.size(),
                 record.input.report.size());
    return 1;
  }
  std::copy(report.begin(), report.end(), record.input.report.begin());
  ControlEvent event{};
  const bool blEvent = GetControlEvent(record, &event);
  std::fputs(DecodeJson(record, blEvent, event).c_str(), stdout);
  return 0;
}

int Watch() {
  const int nStop = StopSignalPipe({SIGINT, SIGTERM});
  HidDeviceRecord record;
  bool blAnnounced = false;
  while (!FindAndOpenController(record)) {
    if (!blAnnounced) {
      std::printf("waiting for the controller (%s)...\n", CurrentHidBackend().Name().c_str());
      std::fflush(stdout);
      blAnnounced = true;
    }
    pollfd p{nStop, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) return 0;  // the 100 ms connection poll, as orb has it
  }
  std::printf("opened %s (%04X:%04X)\n", record.sDevicePath.c_str(), record.attributes.VendorID,
              record.attributes.ProductID);
  std::fflush(stdout);
  for (;;) {
    const ReadResult result = ReadInputReport(record, nStop);
    if (result == ReadResult::Woken) break;
    if (result == ReadResult::Gone) {
      std::printf("device gone\n");
      break;
    }
    ControlEvent event{};
    if (!GetControlEvent(record, &event)) continue;
    if (event.nKind == kReportButtons) {
      const ControlCode nCode = ControlCodeForUsage(static_cast<std::uint16_t>(event.nValue));
      const char* pCaption = ControlCaption(nCode);
      std::printf("kind 1 value %d control %d %s\n", event.nValue, nCode, pCaption != nullptr ? pCaption : "-");
    } else {
      std::printf("kind %u value %d %s\n", event.nKind, event.nValue, event.nKind == kReportWheel ? "WHEEL" : "-");
    }
    std::fflush(stdout);
  }
  CloseDeviceRecord(record, true);
  return 0;
}

int Simulate(const Args& args) {
  Options options;
  if (!ParseOptions(args, 1, {"--socket", "--descriptor", "--vendor", "--product"}, &options) ||
      !options.words.empty() || options.Find("--socket") == nullptr) {
    return Usage();
  }
  SimDevice device;
  device.info = {"", kControllerVendorId, kControllerProductId, 0x0100, "Simulated jog/shuttle controller"};
  if (const std::string* p = options.Find("--vendor")) device.info.nVendorId = static_cast<std::uint16_t>(std::strtoul(p->c_str(), nullptr, 16));
  if (const std::string* p = options.Find("--product")) device.info.nProductId = static_cast<std::uint16_t>(std::strtoul(p->c_str(), nullptr, 16));
  if (const std::string* p = options.Find("--descriptor")) {
    if (!ReadDescriptorFile(*p, options.blHex, &device.descriptor)) return 2;
  } else {
    device.descriptor.assign(kControllerDescriptor, kControllerDescriptor + kControllerDescriptorSize);
  }
  SimulatedControllerServer::Events events;
  events.onFeature = [](const std::vector<std::uint8_t>& report) {
    std::printf("feature %s\n", FormatHex(report.data(), report.size()).c_str());
    std::fflush(stdout);
  };
  events.onOpenCount = [](int nOpen) {
    std::printf("open %d\n", nOpen);
    std::fflush(stdout);
  };
  SimulatedControllerServer server(*options.Find("--socket"), std::move(device), std::move(events));
  std::string sWhy;
  if (!server.Start(&sWhy)) {
    std::fprintf(stderr, "orbctl hid simulate: %s\n", sWhy.c_str());
    return 1;
  }
  std::printf("listening %s\n", options.Find("--socket")->c_str());
  std::fflush(stdout);
  // Ctrl+C ends the process the default way; a stale socket file is replaced next time.
  std::string sPending;
  char buffer[4096];
  for (;;) {
    // Serve the socket until standard input has something.
    while (!server.Serve(STDIN_FILENO, -1)) {
    }
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;  // end of input ends the simulation
    sPending.append(buffer, static_cast<std::size_t>(n));
    std::size_t nEnd;
    while ((nEnd = sPending.find('\n')) != std::string::npos) {
      const std::string sLine = sPending.substr(0, nEnd);
      sPending.erase(0, nEnd + 1);
      std::string sError;
      if (!server.Command(sLine, &sError)) std::fprintf(stderr, "error: %s\n", sError.c_str());
    }
    if (sPending.size() > kMaxCommandLine) {
      std::fprintf(stderr, "orbctl hid simulate: a command line is longer than %zu bytes\n", kMaxCommandLine);
      return 2;
    }
  }
}

}  // namespace

int RunHidCommand(const Args& args) {
  if (args.empty()) return Usage();
  const std::string& sVerb = args[0];
  if ((sVerb == "--help" || sVerb == "-h") && args.size() == 1) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (sVerb == "list" && args.size() == 1) return List();
  if (sVerb == "caps") return Caps(args);
  if (sVerb == "decode") return Decode(args);
  if (sVerb == "watch" && args.size() == 1) return Watch();
  if (sVerb == "simulate") return Simulate(args);
  return Usage();
}

}  // namespace orb::orbctl
