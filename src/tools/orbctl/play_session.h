#pragma once
// The real command engine (DeviceThread, PostThread, the translation, key synthesis) run
// on a simulated controller with a recording key sink, driven step by step on virtual
// time. What the window would do in between is done here too: choosing the profile,
// toggling the modes on WM_USER+11, stopping the threads on WM_USER+15.
//
// Time is virtual (platform/virtual_clock.h): a sleep of the engine costs no real time,
// the worker threads run one at a time in a fixed order, and the session moves the time
// only while every worker is blocked — DeviceThread waiting for a report, PostThread
// waiting for something to repeat or sleeping its 10 ms, a key held for its 100 ms. So
// the same steps give the same events at the same times on every run.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/message_target.h"
#include "device/hid_device_record.h"
#include "engine/device_thread.h"
#include "platform/hid/sim_hid_backend.h"
#include "platform/keys/key_sink.h"
#include "platform/time/virtual_clock.h"
#include "profiles/profile_record.h"

namespace orb::play {

// The first record whose executable name equals exeName, ASCII case-insensitive; -1 if none.
int FindProfile(const std::vector<ProfileRecord>& table, std::string_view exeName);

class PlaySession final {
 public:
  // Each output line, without line end: "T down 0xVK", "T up 0xVK", "T post MSG W L" and,
  // with blLog, "T log TEXT". T is the virtual time in ms with one decimal.
  using LineSink = std::function<void(const std::string& line)>;

  PlaySession(std::vector<ProfileRecord> table, bool blLog, LineSink lineSink);
  ~PlaySession();
  PlaySession(const PlaySession&) = delete;
  PlaySession& operator=(const PlaySession&) = delete;

  // Plugs the controller in, opens it and starts the threads, as the connection poll
  // does. False when the controller cannot be opened.
  bool Start();
  // Ends as the window's destruction does: stops the threads (a play in progress ends
  // first) and closes the controller.
  void Finish();

  std::size_t RecordCount() const { return m_table.size(); }
  int FindProfile(std::string_view exeName) const { return play::FindProfile(m_table, exeName); }
  // What choosing a profile does to the engine: wheel state reset, repeat flag cleared,
  // the current profile replaced. -1 chooses none.
  void SelectProfile(int nIndex);
  void SetSelf(bool blSelf);
  // An input report at the current time; dropped while the controller is unplugged.
  void QueueReport(const std::vector<std::uint8_t>& report);
  void Unplug();
  // Plugs the controller back; the poll connects it and the profile is chosen again.
  void Plug();
  // Lets nMs of virtual time pass while the threads run.
  void Wait(std::uint32_t nMs);

  std::uint64_t NowUs() const { return m_clock.NowUs(); }
  const ProfileRecord* Profile(int nIndex) const { return &m_table[static_cast<std::size_t>(nIndex)]; }
  ProfileRecord* CurrentProfile() const { return m_pCurProfile.load(); }
  bool Connected() const { return !m_record.sDevicePath.empty(); }

 private:
  class Window final : public MessageTarget {
   public:
    explicit Window(PlaySession& session) : m_session(session) {}
    void Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) override;

   private:
    PlaySession& m_session;
  };
  struct Message {
    std::uint32_t nMsg;
    std::uintptr_t wParam;
  };

  static void OnKey(void* pContext, const platform::RecordingKeySink::Record& record);
  static void OnLog(void* pContext, const char* pLine, std::size_t nLength);
  void Emit(const std::string& text);
  bool Connect();
  void Idle();
  void HandleMessage(const Message& message);
  void OnModeChange(std::uintptr_t wParam);
  void OnDeviceRemoved();
  void OnSelectProfile();

  std::vector<ProfileRecord> m_table;
  bool m_blLog;
  LineSink m_lineSink;
  std::mutex m_emitLock;

  platform::VirtualClock m_clock;
  platform::SimulatedHidBackend m_backend;
  platform::RecordingKeySink m_sink;
  Window m_window;
  std::string m_sPath;
  bool m_blPlugged = false;

  std::mutex m_messageLock;
  std::deque<Message> m_messages;

  // The window's members the threads read.
  HidDeviceRecord m_record;
  std::atomic<ProfileRecord*> m_pCurProfile{nullptr};
  std::atomic<bool> m_blSelf{false};
  DeviceThreadParams m_params;
  DeviceThreadControl m_control;
};

}  // namespace orb::play
