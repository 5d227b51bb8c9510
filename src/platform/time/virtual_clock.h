#pragma once
// Virtual time for the real worker threads, so that the same input gives the same run,
// to the microsecond and in the same order, every time (orbctl play, the engine's tests).
//
// Threads started through StartThread are workers, and workers run one at a time: a
// worker runs only while it holds the clock's baton, and it hands the baton on when it
// parks (Sleep, a wait on an event or a mutex) or begins an outside wait (poll on the
// device). Workers made runnable, by an unpark or by their deadline, queue for the baton
// in the order that happened; deadlines that fall due together go by the order the
// workers parked in.
//
// Time moves only when the driver moves it. The driver is the one thread that is not a
// worker (the test, or orbctl play's main thread). It acts only while the world is idle
// (Settle): nobody holds the baton, nobody queues for it, and no outside wait has been
// told it is about to end. Then it changes things (queues a report, sets the profile),
// settles again, and steps the time to the next deadline (StepTo), which queues the
// workers due then. A sleep of 100 ms thus costs no real time, and a worker that polls
// every millisecond costs a thousand quick steps per virtual second, nothing more.
//
// The driver may also Sleep or wait on an event itself: it then steps the time from
// deadline to deadline until its own wait ends, and returns with the world idle.
//
// The outside wait: the clock cannot see into the poll on the device's fd, so whoever
// gives that poll cause to end (a queued report, an unplug, the wake event being set)
// says so first with NoteOutsideWake(), and the worker's EndOutsideWait() takes one such
// note back. Notes not taken when that worker ends are dropped with it.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/time/clock.h"

namespace orb::platform {

class VirtualClock final : public Clock {
 public:
  VirtualClock() = default;
  ~VirtualClock() override;

  std::uint64_t NowUs() const override;
  void Sleep(std::uint32_t nMs) override;
  bool Park(ParkToken& token, std::uint64_t nDeadlineUs) override;
  void Unpark(ParkToken& token) override;
  bool StartThread(std::thread& thread, std::function<void()> body) override;
  void BeginOutsideWait() override;
  void EndOutsideWait() override;
  void NoteOutsideWake() override;

  // Driver side.
  void Settle();
  // Settles; then, if some worker's deadline falls before or at nTargetUs, moves the time
  // there, queues the workers due and returns true; otherwise moves the time to
  // nTargetUs and returns false. Loop while it returns true, settling in between.
  bool StepTo(std::uint64_t nTargetUs);
  // Settle, then step until nTargetUs, settling after each step.
  void RunUntil(std::uint64_t nTargetUs);
  std::uint64_t NextDeadlineUs() const;
  int WorkerCount() const;

 private:
  struct Worker {
    std::condition_variable cv;  // waits for the baton
    bool blUsedOutside = false;
  };

  Worker* CurrentWorker() const;
  bool IdleLocked() const;
  std::uint64_t NextDeadlineLocked() const;
  void PassBatonLocked();
  void MakeRunnableLocked(Worker* pWorker);
  void WaitForBatonLocked(std::unique_lock<std::mutex>& lock, Worker* pWorker);
  void QueueDueLocked();
  void RemoveTimedLocked(ParkToken* pToken);
  bool DriverPark(std::unique_lock<std::mutex>& lock, ParkToken& token, std::uint64_t nDeadlineUs);
  [[noreturn]] void Deadlock() const;

  mutable std::mutex m_m;
  std::condition_variable m_cvIdle;  // the driver waits here for the world to be idle
  std::uint64_t m_nNowUs = 0;
  std::uint64_t m_nSeq = 0;
  Worker* m_pCurrent = nullptr;        // holder of the baton
  std::deque<Worker*> m_runQueue;      // runnable, waiting for the baton
  std::vector<ParkToken*> m_timed;     // parked workers with a deadline
  int m_nWorkers = 0;
  int m_nOutside = 0;                  // workers inside an outside wait
  int m_nOutsideWakes = 0;             // noted causes for those waits to end
  char m_driverMark = 0;               // ParkToken::pWaiter of the driver's own wait
};

}  // namespace orb::platform
