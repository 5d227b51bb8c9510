#include "platform/foreground/gnome_focus.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cstdint>

namespace orb::platform::gnome {
namespace {

using Json = nlohmann::json;

const Json* Member(const Json& object, const char* pName) {
  const auto it = object.find(pName);
  return it != object.end() ? &*it : nullptr;
}

// A non-negative integer member; null when absent, negative or not an integer.
std::optional<std::uint64_t> Unsigned(const Json& object, const char* pName) {
  const Json* pValue = Member(object, pName);
  if (pValue == nullptr || !pValue->is_number_integer()) {
    return std::nullopt;
  }
  if (pValue->is_number_unsigned()) {
    return pValue->get<std::uint64_t>();
  }
  const std::int64_t n = pValue->get<std::int64_t>();
  return n >= 0 ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(n)) : std::nullopt;
}

// The class goes into log lines: bounded, and no byte that could break a line or a terminal.
std::string Printable(const std::string& text) {
  std::string out = text.substr(0, kMaxClassBytes);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return out;
}

}  // namespace

std::optional<FocusReport> ParseFocusPayload(std::string_view payload, std::string* pReason) {
  if (payload.size() > kMaxPayloadBytes) {
    *pReason = "a focus report of " + std::to_string(payload.size()) + " bytes";
    return std::nullopt;
  }
  const Json json = Json::parse(payload.begin(), payload.end(), nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) {
    *pReason = "a focus report that is not a JSON object";
    return std::nullopt;
  }
  // A later extension may say more; it must still say at least this.
  const auto nVersion = Unsigned(json, "v");
  if (!nVersion || *nVersion < 1) {
    *pReason = "a focus report without its version";
    return std::nullopt;
  }
  const auto nWindow = Unsigned(json, "window");
  if (!nWindow) {
    *pReason = "a focus report without a window id";
    return std::nullopt;
  }
  FocusReport report;
  report.nSequence = Unsigned(json, "seq").value_or(0);
  report.window.nWindow = *nWindow;
  if (*nWindow != 0) {
    const auto nPid = Unsigned(json, "pid");
    report.window.nPid = nPid && *nPid <= INT_MAX ? static_cast<int>(*nPid) : 0;
    const Json* pClass = Member(json, "wmClass");
    if (pClass != nullptr && pClass->is_string()) {
      report.wmClass = Printable(pClass->get_ref<const std::string&>());
    }
  }
  return report;
}

}  // namespace orb::platform::gnome
