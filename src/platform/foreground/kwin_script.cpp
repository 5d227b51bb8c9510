#include "platform/foreground/kwin_script.h"

#include <cmath>
#include <limits>

namespace orb::platform::kwin {
namespace {

// The kernel's largest pid (PID_MAX_LIMIT).
constexpr std::int64_t kMaxPid = 4194304;

bool IsBusNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '.' ||
         c == '_' || c == '-';
}

// FNV-1a: KWin names windows by a UUID text; the tracker wants a number, never 0.
std::uint64_t WindowNumber(const std::string& id) {
  std::uint64_t n = 14695981039346656037ull;
  for (const char c : id) {
    n = (n ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return n != 0 ? n : 1;
}

// An integer out of a number of any width, or of a decimal text without sign or spaces.
std::optional<std::int64_t> Integer(const dbus::Value& value) {
  if (const auto* p = std::get_if<std::int32_t>(&value)) return *p;
  if (const auto* p = std::get_if<std::uint32_t>(&value)) return *p;
  if (const auto* p = std::get_if<std::int64_t>(&value)) return *p;
  if (const auto* p = std::get_if<std::uint64_t>(&value)) {
    if (*p > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(*p);
  }
  if (const auto* p = std::get_if<double>(&value)) {
    // JavaScript has only doubles; an integral one in range is an integer.
    if (!std::isfinite(*p) || std::trunc(*p) != *p || std::fabs(*p) > 9.0e15) return std::nullopt;
    return static_cast<std::int64_t>(*p);
  }
  if (const auto* p = std::get_if<std::string>(&value)) {
    std::string_view text = *p;
    bool blNegative = false;
    if (!text.empty() && text.front() == '-') {
      blNegative = true;
      text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t n = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + (c - '0');
    }
    return blNegative ? -n : n;
  }
  return std::nullopt;
}

}  // namespace

std::string ScriptText(const std::string& service) {
  if (service.empty() || service.size() > 255) {
    return {};
  }
  for (const char c : service) {
    if (!IsBusNameChar(c)) return {};
  }
  std::string text;
  text += "// Tells the program on the bus name below which window is active.\n";
  text += "(function () {\n";
  text += "  var service = \"" + service + "\";\n";
  text += std::string("  var path = \"") + kCallbackPath + "\";\n";
  text += std::string("  var iface = \"") + kCallbackInterface + "\";\n";
  text += std::string("  var member = \"") + kCallbackMember + "\";\n";
  text += R"JS(  // Plasma 5 gives the resource class as bytes, Plasma 6 as a string.
  function text(v) {
    if (v === undefined || v === null) return "";
    if (typeof v === "string") return v;
    if (typeof v === "number") return String(v);
    try {
      if (v.byteLength !== undefined) return String.fromCharCode.apply(null, new Uint8Array(v));
    } catch (e) {}
    return String(v);
  }
  function tell(w) {
    if (!w) {
      callDBus(service, path, iface, member, "", "", "");
      return;
    }
    callDBus(service, path, iface, member, text(w.internalId), String(w.pid), text(w.resourceClass));
  }
  if (workspace.windowActivated !== undefined) {
    workspace.windowActivated.connect(tell);
    tell(workspace.activeWindow);
  } else {
    workspace.clientActivated.connect(tell);
    tell(workspace.activeClient);
  }
})();
)JS";
  return text;
}

std::optional<Activation> ParseActivation(const dbus::Values& args, std::string* pReason) {
  if (args.size() != 3) {
    *pReason = "an activation has 3 arguments, not " + std::to_string(args.size());
    return std::nullopt;
  }
  Activation activation;
  // The window: a text id (the script's), or a number.
  if (const auto* pId = std::get_if<std::string>(&args[0])) {
    if (pId->size() > kMaxIdBytes) {
      *pReason = "a window id of " + std::to_string(pId->size()) + " bytes";
      return std::nullopt;
    }
    activation.nWindow = pId->empty() ? 0 : WindowNumber(*pId);
  } else if (const auto nId = Integer(args[0]); nId && *nId >= 0) {
    activation.nWindow = static_cast<std::uint64_t>(*nId);
  } else {
    *pReason = "a window id that is neither text nor a number: " + dbus::DescribeValue(args[0]);
    return std::nullopt;
  }
  if (activation.nWindow == 0) {
    return activation;  // nothing active: the rest says nothing
  }
  // The pid: KWin says 0 or -1 when it does not know it.
  const auto nPid = Integer(args[1]);
  if (!nPid || *nPid > kMaxPid || *nPid < -1) {
    *pReason = "a pid that is not one: " + dbus::DescribeValue(args[1]);
    return std::nullopt;
  }
  activation.nPid = *nPid > 0 ? static_cast<int>(*nPid) : 0;
  if (const auto* pClass = std::get_if<std::string>(&args[2])) {
    for (const char c : *pClass) {
      if (activation.resourceClass.size() == kMaxClassBytes) break;
      activation.resourceClass += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
  } else if (!std::holds_alternative<std::monostate>(args[2])) {
    *pReason = "a resource class that is not text: " + dbus::DescribeValue(args[2]);
    return std::nullopt;
  }
  return activation;
}

}  // namespace orb::platform::kwin
