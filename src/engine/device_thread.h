#pragma once
// The two worker threads. DeviceThread reads one input report after another, has it
// translated and plays the command at once, under "MUTEX POST". A repeating command stays
// in CommandBuffer and PostThread plays it again every (play time + 10 ms) until
// something flushes it or the repeat flag is cleared.
//
// Neither thread wakes up while there is nothing to do: DeviceThread sleeps in poll on
// the device and on "EVENT READ", which a stop request sets; PostThread sleeps on an
// event that DeviceThread sets when it leaves a repeating command in the buffer.

#include <atomic>
#include <memory>
#include <thread>

#include "engine/command_buffer.h"
#include "profiles/profile_record.h"

namespace orb {

class MessageTarget;
struct HidDeviceRecord;

namespace platform {
class Clock;
class Event;
class KeySink;
}  // namespace platform

// Filled by the window before each start and alive as long as the window. The fields the
// thread does not read on Windows (the foreground window and two more) carry what it
// needs here instead: its key output and its clock.
struct DeviceThreadParams {
  MessageTarget* pWindow = nullptr;                  // target of WM_USER+16, +15, +14, +11
  void* pForeground = nullptr;                       // not read by the thread
  HidDeviceRecord* pDevice = nullptr;                // the open controller
  std::atomic<bool> blStop{false};                   // set by the window to end the thread
  std::atomic<bool>* pblRepeat = nullptr;            // the repeat flag (g_blRepeatCommand)
  const std::atomic<bool>* pblSelf = nullptr;        // the window's m_blSelf
  platform::KeySink* pKeySink = nullptr;
  std::atomic<ProfileRecord*>* ppProfile = nullptr;  // the window's m_pCurProfile
  // True from just before the thread loads *ppProfile until it is done with that record.
  // A window that clears *ppProfile and then sees this false knows the thread holds no
  // record of the old table, so that table may be unmapped (see WaitUntilProfileReleased).
  std::atomic<bool> blHoldingProfile{false};
  // Called between loading *ppProfile and using it; null in the program. Tests widen the
  // window with it, so that a table unmapped too early would be hit.
  void (*pfnProfileLoaded)() = nullptr;
  platform::Clock* pClock = nullptr;
};

// The posting thread's block (one static instance, filled by DeviceThread).
struct PostThreadBlock {
  std::atomic<bool> blStop{false};
  std::atomic<bool>* pblRepeat = nullptr;
  KeyOutput output{};
  platform::Event* pWake = nullptr;  // set when a repeating command waits in the buffer
};

// After *params.ppProfile was cleared: returns once the device thread holds no record it
// loaded before (at once when it holds none). Sequentially consistent on both sides, so a
// load after the clear sees null.
void WaitUntilProfileReleased(const DeviceThreadParams& params);
// The device thread's side: done with the record; wakes a window waiting above.
void ReleaseProfile(DeviceThreadParams& params);

// Thread bodies.
void DeviceThread(DeviceThreadParams* pParams);
void PostThread(PostThreadBlock* pBlock);

// The window's handle on the thread pair: starting, asking to stop, and waiting until the
// device thread has ended (it signals "EVENT STOP DEVICE" as its very last act, after
// PostThread has ended), after which the device may be closed.
class DeviceThreadControl final {
 public:
  DeviceThreadControl() = default;
  ~DeviceThreadControl();
  DeviceThreadControl(const DeviceThreadControl&) = delete;
  DeviceThreadControl& operator=(const DeviceThreadControl&) = delete;

  // StartDeviceThread: makes "EVENT STOP DEVICE" or resets it (it must never be left
  // signalled from an earlier thread), clears the stop byte and starts DeviceThread with
  // the block. False (logged) when the thread cannot be started; nothing to stop then.
  bool Start(DeviceThreadParams& params);
  // Sets the stop byte and wakes the report wait. Returns at once.
  void RequestStop();
  // Waits without time limit for "EVENT STOP DEVICE" (the play in progress ends first),
  // then reaps the thread. Does nothing when no thread was started.
  void WaitStopped();
  void Stop() {
    RequestStop();
    WaitStopped();
  }
  bool Running() const { return m_thread.joinable(); }
  // True once the running thread has signalled its end (the wait would return at once).
  bool Finished() const;

 private:
  DeviceThreadParams* m_pParams = nullptr;
  std::shared_ptr<platform::Event> m_pStopEvent;
  std::thread m_thread;
};

// Object names, exact.
inline constexpr const char* kEventStopDevice = "EVENT STOP DEVICE";
inline constexpr const char* kEventRead = "EVENT READ";
inline constexpr const char* kEventPost = "EVENT POST";
inline constexpr const char* kMutexPost = "MUTEX POST";

}  // namespace orb
