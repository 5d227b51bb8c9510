// What KWin's script sends us over the bus, as the tracker judges it: the input is read as
// a list of typed values (one type byte, then the value's bytes). What comes out must be a
// window with a sane pid and a printable, bounded class, or nothing. The script's text is
// built from the whole input as a bus name: a name it accepts can never break the literal.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/foreground/kwin_script.h"

using namespace orb::platform;

namespace {

class Reader {
 public:
  Reader(const std::uint8_t* pData, std::size_t nSize) : m_pData(pData), m_nLeft(nSize) {}
  bool Empty() const { return m_nLeft == 0; }
  std::uint8_t Byte() {
    if (m_nLeft == 0) return 0;
    --m_nLeft;
    return *m_pData++;
  }
  template <typename T>
  T Number() {
    T value{};
    std::uint8_t bytes[sizeof(T)] = {};
    for (auto& b : bytes) b = Byte();
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }
  std::string Text() {
    std::string text;
    for (std::size_t n = Byte() * 2u; n > 0 && !Empty(); --n) text += static_cast<char>(Byte());
    return text;
  }

 private:
  const std::uint8_t* m_pData;
  std::size_t m_nLeft;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  Reader reader(pData, nSize);
  dbus::Values args;
  while (!reader.Empty() && args.size() < 6) {
    switch (reader.Byte() % 9) {
      case 0: args.emplace_back(std::monostate{}); break;
      case 1: args.emplace_back(reader.Byte() != 0); break;
      case 2: args.emplace_back(reader.Number<std::int32_t>()); break;
      case 3: args.emplace_back(reader.Number<std::uint32_t>()); break;
      case 4: args.emplace_back(reader.Number<std::int64_t>()); break;
      case 5: args.emplace_back(reader.Number<std::uint64_t>()); break;
      case 6: args.emplace_back(reader.Number<double>()); break;
      case 7: args.emplace_back(dbus::ObjectPath{reader.Text()}); break;
      default: args.emplace_back(reader.Text()); break;
    }
  }
  std::string reason;
  if (const auto activation = kwin::ParseActivation(args, &reason)) {
    if (activation->nPid < 0 || activation->nPid > 4194304) __builtin_trap();
    if (activation->nWindow == 0 && (activation->nPid != 0 || !activation->resourceClass.empty())) __builtin_trap();
    if (activation->resourceClass.size() > kwin::kMaxClassBytes) __builtin_trap();
    for (const char c : activation->resourceClass) {
      if (c < 0x20 || c >= 0x7f) __builtin_trap();
    }
  } else if (reason.empty()) {
    __builtin_trap();
  }
  const std::string name(reinterpret_cast<const char*>(pData), nSize);
  const std::string text = kwin::ScriptText(name);
  if (!text.empty() && (name.find_first_of("\"\\\n") != std::string::npos || text.find('"' + name + '"') == std::string::npos)) {
    __builtin_trap();
  }
  return 0;
}
