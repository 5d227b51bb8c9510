#include "platform/keys/key_sink.h"

#include "platform/time/clock.h"

namespace orb::platform {

RecordingKeySink::RecordingKeySink(const Clock& clock) : m_clock(clock) {}

void RecordingKeySink::KeyEvent(std::uint8_t nVk, std::uint8_t nScanCode, bool blUp) {
  const Record record{blUp, nVk, nScanCode, m_clock.NowUs()};
  std::lock_guard lock(m_m);
  m_records.push_back(record);
  if (m_pObserver != nullptr) {
    m_pObserver(m_pObserverContext, record);
  }
}

std::vector<RecordingKeySink::Record> RecordingKeySink::Records() const {
  std::lock_guard lock(m_m);
  return m_records;
}

std::size_t RecordingKeySink::Count() const {
  std::lock_guard lock(m_m);
  return m_records.size();
}

void RecordingKeySink::Clear() {
  std::lock_guard lock(m_m);
  m_records.clear();
}

void RecordingKeySink::SetObserver(Observer pObserver, void* pContext) {
  std::lock_guard lock(m_m);
  m_pObserver = pObserver;
  m_pObserverContext = pContext;
}

}  // namespace orb::platform
