#include "platform/time/virtual_clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace orb::platform {
namespace {

// Which clock's worker the calling thread is, if any.
thread_local const VirtualClock* t_pClock = nullptr;
thread_local void* t_pWorker = nullptr;

}  // namespace

VirtualClock::~VirtualClock() {
  std::lock_guard lock(m_m);
  if (m_nWorkers != 0) {
    std::fprintf(stderr, "VirtualClock: destroyed while %d worker thread(s) still run\n", m_nWorkers);
    std::abort();
  }
}

VirtualClock::Worker* VirtualClock::CurrentWorker() const {
  return t_pClock == this ? static_cast<Worker*>(t_pWorker) : nullptr;
}

std::uint64_t VirtualClock::NowUs() const {
  std::lock_guard lock(m_m);
  return m_nNowUs;
}

bool VirtualClock::IdleLocked() const {
  return m_pCurrent == nullptr && m_runQueue.empty() && !(m_nOutside > 0 && m_nOutsideWakes > 0);
}

std::uint64_t VirtualClock::NextDeadlineLocked() const {
  std::uint64_t nNext = kNoDeadline;
  for (const ParkToken* pToken : m_timed) {
    nNext = std::min(nNext, pToken->nDeadlineUs);
  }
  return nNext;
}

void VirtualClock::PassBatonLocked() {
  if (m_runQueue.empty()) {
    m_pCurrent = nullptr;
    m_cvIdle.notify_all();
    return;
  }
  m_pCurrent = m_runQueue.front();
  m_runQueue.pop_front();
  m_pCurrent->cv.notify_one();
}

void VirtualClock::MakeRunnableLocked(Worker* pWorker) {
  m_runQueue.push_back(pWorker);
  if (m_pCurrent == nullptr) {
    PassBatonLocked();
  }
}

void VirtualClock::WaitForBatonLocked(std::unique_lock<std::mutex>& lock, Worker* pWorker) {
  pWorker->cv.wait(lock, [&] { return m_pCurrent == pWorker; });
}

void VirtualClock::RemoveTimedLocked(ParkToken* pToken) {
  const auto it = std::find(m_timed.begin(), m_timed.end(), pToken);
  if (it != m_timed.end()) {
    m_timed.erase(it);
  }
}

void VirtualClock::QueueDueLocked() {
  std::vector<ParkToken*> due;
  for (ParkToken* pToken : m_timed) {
    if (pToken->nDeadlineUs <= m_nNowUs) {
      due.push_back(pToken);
    }
  }
  std::sort(due.begin(), due.end(), [](const ParkToken* a, const ParkToken* b) {
    return a->nDeadlineUs != b->nDeadlineUs ? a->nDeadlineUs < b->nDeadlineUs : a->nSeq < b->nSeq;
  });
  for (ParkToken* pToken : due) {
    RemoveTimedLocked(pToken);
    Worker* pWorker = static_cast<Worker*>(pToken->pWaiter);
    pToken->pWaiter = nullptr;
    MakeRunnableLocked(pWorker);
  }
}

void VirtualClock::Deadlock() const {
  std::fprintf(stderr, "VirtualClock: the driver waits for something that no thread and no deadline can bring\n");
  std::abort();
}

bool VirtualClock::Park(ParkToken& token, std::uint64_t nDeadlineUs) {
  std::unique_lock lock(m_m);
  Worker* pWorker = CurrentWorker();
  if (pWorker == nullptr) {
    return DriverPark(lock, token, nDeadlineUs);
  }
  if (token.blUnparked) {
    return true;
  }
  if (nDeadlineUs <= m_nNowUs) {
    return false;
  }
  token.pWaiter = pWorker;
  token.nDeadlineUs = nDeadlineUs;
  token.nSeq = ++m_nSeq;
  if (nDeadlineUs != kNoDeadline) {
    m_timed.push_back(&token);
  }
  PassBatonLocked();
  WaitForBatonLocked(lock, pWorker);
  // Whoever queued this worker (an unpark or the deadline) already took it off the lists.
  return token.blUnparked;
}

bool VirtualClock::DriverPark(std::unique_lock<std::mutex>& lock, ParkToken& token, std::uint64_t nDeadlineUs) {
  token.pWaiter = &m_driverMark;
  for (;;) {
    m_cvIdle.wait(lock, [&] { return IdleLocked(); });
    if (token.blUnparked) {
      token.pWaiter = nullptr;
      return true;
    }
    const std::uint64_t nNext = NextDeadlineLocked();
    if (nDeadlineUs != kNoDeadline && nDeadlineUs <= nNext) {
      m_nNowUs = std::max(m_nNowUs, nDeadlineUs);
      QueueDueLocked();
      m_cvIdle.wait(lock, [&] { return IdleLocked(); });
      token.pWaiter = nullptr;
      return token.blUnparked;
    }
    if (nNext == kNoDeadline) {
      Deadlock();
    }
    m_nNowUs = std::max(m_nNowUs, nNext);
    QueueDueLocked();
  }
}

void VirtualClock::Unpark(ParkToken& token) {
  std::lock_guard lock(m_m);
  token.blUnparked = true;
  if (token.pWaiter == &m_driverMark) {
    m_cvIdle.notify_all();
  } else if (token.pWaiter != nullptr) {
    Worker* pWorker = static_cast<Worker*>(token.pWaiter);
    token.pWaiter = nullptr;
    RemoveTimedLocked(&token);
    MakeRunnableLocked(pWorker);
  }
}

void VirtualClock::Sleep(std::uint32_t nMs) {
  ParkToken token;
  Park(token, NowUs() + std::uint64_t{nMs} * 1000u);
}

bool VirtualClock::StartThread(std::thread& thread, std::function<void()> body) {
  auto pWorker = std::make_shared<Worker>();
  {
    std::lock_guard lock(m_m);
    ++m_nWorkers;
    MakeRunnableLocked(pWorker.get());
  }
  auto run = [this, pWorker, body = std::move(body)] {
    t_pClock = this;
    t_pWorker = pWorker.get();
    {
      std::unique_lock lock(m_m);
      WaitForBatonLocked(lock, pWorker.get());
    }
    body();
    std::lock_guard lock(m_m);
    if (pWorker->blUsedOutside) {
      m_nOutsideWakes = 0;  // they were meant for this thread's poll
    }
    --m_nWorkers;
    PassBatonLocked();
    t_pClock = nullptr;
    t_pWorker = nullptr;
  };
  if (Clock::StartThread(thread, std::move(run))) {
    return true;
  }
  std::lock_guard lock(m_m);
  --m_nWorkers;
  if (m_pCurrent == pWorker.get()) {
    PassBatonLocked();
  } else {
    m_runQueue.erase(std::find(m_runQueue.begin(), m_runQueue.end(), pWorker.get()));
  }
  return false;
}

void VirtualClock::BeginOutsideWait() {
  std::lock_guard lock(m_m);
  Worker* pWorker = CurrentWorker();
  if (pWorker == nullptr) {
    return;
  }
  pWorker->blUsedOutside = true;
  ++m_nOutside;
  PassBatonLocked();
}

void VirtualClock::EndOutsideWait() {
  std::unique_lock lock(m_m);
  Worker* pWorker = CurrentWorker();
  if (pWorker == nullptr) {
    return;
  }
  --m_nOutside;
  if (m_nOutsideWakes > 0) {
    --m_nOutsideWakes;
  }
  MakeRunnableLocked(pWorker);
  WaitForBatonLocked(lock, pWorker);
}

void VirtualClock::NoteOutsideWake() {
  std::lock_guard lock(m_m);
  ++m_nOutsideWakes;
}

void VirtualClock::Settle() {
  std::unique_lock lock(m_m);
  m_cvIdle.wait(lock, [&] { return IdleLocked(); });
}

bool VirtualClock::StepTo(std::uint64_t nTargetUs) {
  std::unique_lock lock(m_m);
  m_cvIdle.wait(lock, [&] { return IdleLocked(); });
  const std::uint64_t nNext = NextDeadlineLocked();
  if (nNext <= nTargetUs) {
    m_nNowUs = std::max(m_nNowUs, nNext);
    QueueDueLocked();
    return true;
  }
  m_nNowUs = std::max(m_nNowUs, nTargetUs);
  return false;
}

void VirtualClock::RunUntil(std::uint64_t nTargetUs) {
  while (StepTo(nTargetUs)) {
  }
  Settle();
}

std::uint64_t VirtualClock::NextDeadlineUs() const {
  std::lock_guard lock(m_m);
  return NextDeadlineLocked();
}

int VirtualClock::WorkerCount() const {
  std::lock_guard lock(m_m);
  return m_nWorkers;
}

}  // namespace orb::platform
