// Every key the built-in tables play must exist for both key outputs, or a default
// profile would silently lose strokes on one of them.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "platform/keys/virtual_keys.h"
#include "profiles/default_tables.h"
#include "profiles/profile_table.h"

namespace orb {
namespace {

std::set<std::uint16_t> PlayedKeys(UiLanguage language) {
  // The modifiers are played as keys of their own.
  std::set<std::uint16_t> keys{0x10, 0x11, 0x12};
  for (const ProfileRecord& record : ReadProfileTable(DefaultTable(language))) {
    for (const ControlEntry& entry : record.entries) {
      for (const KeyCommand* pCommand : {&entry.deck, &entry.file}) {
        KeyStroke strokes[kKeysPerCommand];
        std::memcpy(strokes, reinterpret_cast<const char*>(pCommand) + offsetof(KeyCommand, keys), sizeof strokes);
        for (const KeyStroke k : strokes) {
          if (KeyStrokeVirtualKey(k) == 0) {
            break;
          }
          keys.insert(static_cast<std::uint16_t>(k & 0xFF));  // the byte that is sent
        }
      }
    }
  }
  return keys;
}

TEST(DefaultTableKeysTest, EveryPlayedKeyHasAKeysymAndAnEvdevCode) {
  for (const UiLanguage language : {UiLanguage::English, UiLanguage::Japanese}) {
    const std::set<std::uint16_t> keys = PlayedKeys(language);
    EXPECT_GT(keys.size(), 20u);
    for (const std::uint16_t nVk : keys) {
      const platform::VirtualKeyInfo* pInfo = platform::FindVirtualKey(nVk);
      ASSERT_NE(pInfo, nullptr) << "virtual key 0x" << std::hex << nVk;
      EXPECT_NE(pInfo->nKeysym, 0u) << pInfo->pName;
      EXPECT_NE(pInfo->nEvdevCode, 0u) << pInfo->pName;
      EXPECT_NE(pInfo->nScanCode, 0u) << pInfo->pName;
    }
  }
}

}  // namespace
}  // namespace orb
