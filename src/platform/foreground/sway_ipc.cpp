#include "platform/foreground/sway_ipc.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <cstring>

namespace orb::platform::sway {
namespace {

using Json = nlohmann::json;

constexpr char kMagic[6] = {'i', '3', '-', 'i', 'p', 'c'};

// Never throws: what is not JSON comes back as a discarded value.
Json Parse(std::string_view payload) {
  return Json::parse(payload.begin(), payload.end(), nullptr, /*allow_exceptions=*/false);
}

// A member of an object, or null when the value is no object or lacks it.
const Json* Member(const Json& object, const char* pName) {
  if (!object.is_object()) {
    return nullptr;
  }
  const auto it = object.find(pName);
  return it != object.end() ? &*it : nullptr;
}

bool IsString(const Json* pValue, std::string_view text) {
  return pValue != nullptr && pValue->is_string() && pValue->get_ref<const std::string&>() == text;
}

// Container ids are positive; anything else names no window.
std::uint64_t IdOf(const Json& node) {
  const Json* pId = Member(node, "id");
  if (pId == nullptr || !pId->is_number_integer()) {
    return 0;
  }
  if (pId->is_number_unsigned()) {
    return pId->get<std::uint64_t>();
  }
  const std::int64_t nId = pId->get<std::int64_t>();
  return nId > 0 ? static_cast<std::uint64_t>(nId) : 0;
}

// Only views (native or XWayland windows) carry a pid member; a pid that is no process id
// (0, negative, too large) is kept as "unknown".
bool IsView(const Json& node) { return Member(node, "pid") != nullptr; }

int PidOf(const Json& node) {
  const Json* pPid = Member(node, "pid");
  if (pPid == nullptr || !pPid->is_number_integer()) {
    return 0;
  }
  const std::int64_t nPid = pPid->is_number_unsigned()
                                ? static_cast<std::int64_t>(std::min<std::uint64_t>(pPid->get<std::uint64_t>(), INT64_MAX))
                                : pPid->get<std::int64_t>();
  return nPid > 0 && nPid <= INT_MAX ? static_cast<int>(nPid) : 0;
}

std::optional<ForegroundWindow> WindowOf(const Json& node) {
  const std::uint64_t nId = IdOf(node);
  if (nId == 0) {
    return std::nullopt;
  }
  return ForegroundWindow{nId, PidOf(node)};
}

bool HasChildren(const Json& node, const char* pList) {
  const Json* pNodes = Member(node, pList);
  return pNodes != nullptr && pNodes->is_array() && !pNodes->empty();
}

}  // namespace

std::optional<Header> ParseHeader(std::span<const std::uint8_t> bytes, std::string* pReason) {
  if (bytes.size() < kHeaderBytes) {
    *pReason = "a message header cut short";
    return std::nullopt;
  }
  if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    *pReason = "a message without the \"i3-ipc\" mark";
    return std::nullopt;
  }
  Header header;
  std::memcpy(&header.nLength, bytes.data() + 6, 4);
  std::memcpy(&header.nType, bytes.data() + 10, 4);
  if (header.nLength > kMaxPayloadBytes) {
    *pReason = "a message of " + std::to_string(header.nLength) + " bytes, more than " +
               std::to_string(kMaxPayloadBytes);
    return std::nullopt;
  }
  return header;
}

std::vector<std::uint8_t> EncodeMessage(std::uint32_t nType, std::string_view payload) {
  std::vector<std::uint8_t> bytes(kHeaderBytes + payload.size());
  const auto nLength = static_cast<std::uint32_t>(payload.size());
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  std::memcpy(bytes.data() + 6, &nLength, 4);
  std::memcpy(bytes.data() + 10, &nType, 4);
  std::memcpy(bytes.data() + kHeaderBytes, payload.data(), payload.size());
  return bytes;
}

bool SubscribeSucceeded(std::string_view payload) {
  const Json reply = Parse(payload);
  const Json* pSuccess = Member(reply, "success");
  return pSuccess != nullptr && pSuccess->is_boolean() && pSuccess->get<bool>();
}

std::optional<ForegroundWindow> FocusedInTree(std::string_view payload) {
  const Json tree = Parse(payload);
  if (!tree.is_object()) {
    return std::nullopt;
  }
  // Depth first with our own stack: a tree's depth is the peer's to choose.
  std::vector<const Json*> pending{&tree};
  while (!pending.empty()) {
    const Json& node = *pending.back();
    pending.pop_back();
    const Json* pFocused = Member(node, "focused");
    if (pFocused != nullptr && pFocused->is_boolean() && pFocused->get<bool>()) {
      if (!IsView(node)) {
        return ForegroundWindow{};  // a workspace, an output or a split holds the focus
      }
      return WindowOf(node).value_or(ForegroundWindow{});
    }
    for (const char* pList : {"nodes", "floating_nodes"}) {
      const Json* pNodes = Member(node, pList);
      if (pNodes != nullptr && pNodes->is_array()) {
        for (const Json& child : *pNodes) {
          pending.push_back(&child);
        }
      }
    }
  }
  return ForegroundWindow{};
}

std::optional<ForegroundWindow> FrontAfterEvent(std::uint32_t nType, std::string_view payload,
                                                const ForegroundWindow& before) {
  if (nType != kEventWindow && nType != kEventWorkspace) {
    return std::nullopt;
  }
  const Json event = Parse(payload);
  const Json* pChange = Member(event, "change");
  if (nType == kEventWindow) {
    const Json* pContainer = Member(event, "container");
    if (pContainer == nullptr) {
      return std::nullopt;
    }
    if (IsString(pChange, "focus")) {
      return WindowOf(*pContainer);
    }
    if (IsString(pChange, "close") && before.nWindow != 0 && IdOf(*pContainer) == before.nWindow) {
      return ForegroundWindow{};
    }
    return std::nullopt;
  }
  const Json* pCurrent = Member(event, "current");
  if (!IsString(pChange, "focus") || pCurrent == nullptr || !pCurrent->is_object()) {
    return std::nullopt;
  }
  if (HasChildren(*pCurrent, "nodes") || HasChildren(*pCurrent, "floating_nodes")) {
    return std::nullopt;
  }
  return ForegroundWindow{};
}

}  // namespace orb::platform::sway
