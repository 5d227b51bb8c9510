#include "platform/foreground/hyprland_ipc.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <climits>

namespace orb::platform::hyprland {
namespace {

using Json = nlohmann::json;

// Never throws: what is not JSON comes back as a discarded value.
Json Parse(std::string_view text) { return Json::parse(text.begin(), text.end(), nullptr, false); }

// Hex digits only, at least one, no more than 64 bits' worth.
std::optional<std::uint64_t> ParseHex(std::string_view text) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::uint64_t nValue = 0;
  const auto [pEnd, error] = std::from_chars(text.data(), text.data() + text.size(), nValue, 16);
  if (error != std::errc() || pEnd != text.data() + text.size()) return std::nullopt;
  return nValue;
}

// An object's "address" as Hyprland writes it: "0x" and hex.
std::optional<std::uint64_t> AddressOf(const Json& window) {
  if (!window.is_object()) return std::nullopt;
  const auto it = window.find("address");
  if (it == window.end() || !it->is_string()) return std::nullopt;
  const std::string& text = it->get_ref<const std::string&>();
  if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
  return ParseHex(std::string_view(text).substr(2));
}

// A pid that is no process id (0, negative, too large) is kept as "unknown".
int PidOf(const Json& window) {
  const auto it = window.find("pid");
  if (it == window.end() || !it->is_number_integer()) return 0;
  if (it->is_number_unsigned()) {
    const std::uint64_t nPid = it->get<std::uint64_t>();
    return nPid <= INT_MAX ? static_cast<int>(nPid) : 0;
  }
  const std::int64_t nPid = it->get<std::int64_t>();
  return nPid > 0 && nPid <= INT_MAX ? static_cast<int>(nPid) : 0;
}

}  // namespace

std::optional<Event> ParseEventLine(std::string_view line) {
  const std::size_t nSeparator = line.find(">>");
  if (nSeparator == std::string_view::npos || nSeparator == 0) return std::nullopt;
  return Event{line.substr(0, nSeparator), line.substr(nSeparator + 2)};
}

std::optional<std::uint64_t> ActiveWindowAddress(std::string_view data) {
  // Releases have said "no window" as nothing and as a lone comma.
  if (data.empty() || data == ",") return 0;
  if (data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X')) data.remove_prefix(2);
  return ParseHex(data);
}

std::optional<int> PidOfWindow(std::string_view clientsJson, std::uint64_t nAddress) {
  const Json clients = Parse(clientsJson);
  if (!clients.is_array() || nAddress == 0) return std::nullopt;
  for (const Json& window : clients) {
    if (AddressOf(window) == nAddress) return PidOf(window);
  }
  return std::nullopt;
}

std::optional<ForegroundWindow> ActiveWindowOf(std::string_view activeJson) {
  const Json active = Parse(activeJson);
  if (!active.is_object()) return std::nullopt;
  if (active.empty()) return ForegroundWindow{};
  const auto nAddress = AddressOf(active);
  if (!nAddress || *nAddress == 0) return std::nullopt;
  return ForegroundWindow{*nAddress, PidOf(active)};
}

}  // namespace orb::platform::hyprland
