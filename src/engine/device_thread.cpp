#include "engine/device_thread.h"

#include <thread>

#include "base/message_target.h"
#include "base/write_log.h"
#include "device/control_event.h"
#include "device/hid_device_record.h"
#include "engine/translation.h"
#include "platform/time/clock.h"
#include "platform/time/sync.h"

namespace orb {
namespace {

PostThreadBlock g_postThreadBlock;

// How often a thread that cannot sleep on "EVENT READ" looks for a stop request.
constexpr int kStopCheckMs = 10;

}  // namespace

void WaitUntilProfileReleased(const DeviceThreadParams& params) {
  // The hold can last: a translation that waits for "MUTEX POST" waits out the repeating
  // command PostThread plays (up to minutes). Sleep until the thread lets go.
  params.blHoldingProfile.wait(true);
}

void ReleaseProfile(DeviceThreadParams& params) {
  params.blHoldingProfile.store(false);
  params.blHoldingProfile.notify_all();
}

void DeviceThread(DeviceThreadParams* pParams) {
  WriteLog("DeviceThread: start\r\n");
  HidDeviceRecord& device = *pParams->pDevice;
  MessageTarget* pWindow = pParams->pWindow;
  std::atomic<bool>* pblRepeat = pParams->pblRepeat;
  const std::atomic<bool>* pblSelf = pParams->pblSelf;
  std::atomic<ProfileRecord*>* ppProfile = pParams->ppProfile;
  platform::Clock& clock = *pParams->pClock;
  const KeyOutput output{pParams->pKeySink, &clock};

  std::shared_ptr<platform::Event> pStopEvent = platform::OpenNamedEvent(kEventStopDevice);
  std::shared_ptr<platform::Event> pReadEvent = platform::CreateNamedEvent(kEventRead, clock);
  std::shared_ptr<platform::Event> pPostEvent = platform::CreateNamedEvent(kEventPost, clock);
  std::shared_ptr<platform::Mutex> pLock = platform::CreateNamedMutex(kMutexPost, clock);
  if (!pReadEvent || !pPostEvent || !pLock) {
    // Without them nothing can be read or played; end as after a stop, so that the
    // window's wait for the stop event still returns.
    WriteLog("DeviceThread: cannot create its events and mutex\r\n");
    WriteLog("DeviceThread: terminate\r\n");
    if (pStopEvent) {
      pStopEvent->Set();
    }
    return;
  }

  // A command left by an earlier thread pair must not be replayed by this one: after the
  // controller was lent to the editor the repeat flag may still be set, and the new
  // PostThread would otherwise play the old command before the profile is chosen again.
  ClearCommandBuffer();

  platform::Event postWake(clock);
  PostThreadBlock& block = g_postThreadBlock;
  block.blStop.store(false);
  block.pblRepeat = pblRepeat;
  block.output = output;
  block.pWake = &postWake;
  std::thread postThread;
  const bool blPostThread = clock.StartThread(postThread, [] { PostThread(&g_postThreadBlock); });
  if (!blPostThread) {
    WriteLog("DeviceThread: cannot start PostThread; repeating commands play once\r\n");
  }

  const int nWakeFd = pReadEvent->Fd();
  // Without the event's fd (no file descriptors left when it was made) poll could not see
  // a stop request, and closing the program would wait for the controller's next report:
  // then look at the stop flag every 10 ms instead.
  const int nReadTimeoutMs = nWakeFd < 0 ? kStopCheckMs : -1;
  if (nWakeFd < 0) {
    WriteLog("DeviceThread: EVENT READ has no fd; checking for a stop every %d ms\r\n", kStopCheckMs);
  }
  while (!pParams->blStop.load()) {
    // Sleeps until a report is read, "EVENT READ" is set (a stop request) or the device
    // is gone; no time-out, so an idle controller costs no wake-ups.
    clock.BeginOutsideWait();
    const ReadResult result = ReadInputReport(device, nWakeFd, nReadTimeoutMs);
    clock.EndOutsideWait();
    if (result == ReadResult::Gone) {
      pWindow->Post(WM_DEVICEREMOVED, 0, 0);
      break;
    }
    if (pParams->blStop.load()) {
      break;
    }
    if (result == ReadResult::Woken) {
      pReadEvent->Reset();  // set without a stop request: nothing to do but wait again
      continue;
    }

    ControlEvent event{};
    std::optional<CommandKeys> command;
    if (GetControlEvent(device, &event)) {
      pParams->blHoldingProfile.store(true);
      const ProfileRecord* pProfile = ppProfile->load();
      if (pParams->pfnProfileLoaded != nullptr) pParams->pfnProfileLoaded();
      const bool blTranslate = pProfile != nullptr || pblSelf->load();
      if (blTranslate) {
        command = GetCommand(event.nKind, event.nValue, pblSelf, pProfile, pWindow, pblRepeat, pLock.get());
      }
      // The command holds copies of the keys: nothing of the record is used after this.
      ReleaseProfile(*pParams);
      if (blTranslate) {
        if (!command) {
          continue;
        }
        WriteLog("DeviceThread: start copying command\r\n");
        pLock->Lock();
        CopyToCommandBuffer(*command);
        WriteLog("DeviceThread: start posting\r\n");
        PostCommand(output);
        WriteLog("DeviceThread: finish posting\r\n");
        if (!pblRepeat->load()) {
          WriteLog("DeviceThread: Flush for non-repeat command\r\n");
          ClearCommandBuffer();
        }
        pLock->Unlock();
        WriteLog("DeviceThread: finish copying command\r\n");
        if (pblRepeat->load() && !CommandBufferEmpty()) {
          postWake.Set();  // the lock is free: PostThread takes over at once
        }
      }
    }
    if (command && KeyStrokeVirtualKey((*command)[0]) != 0 && !pblRepeat->load()) {
      WriteLog("DeviceThread: flushCommand\r\n");
      FlushCommand(*pLock);
    }
  }

  block.blStop.store(true);
  postWake.Set();
  if (blPostThread) {
    pPostEvent->Wait();
    postThread.join();
  }
  WriteLog("DeviceThread: terminate\r\n");
  pReadEvent.reset();
  pPostEvent.reset();
  pLock.reset();
  if (pStopEvent) {
    pStopEvent->Set();  // last: the window may close the device from here on
  }
}

void PostThread(PostThreadBlock* pBlock) {
  WriteLog("PostThread: start\r\n");
  std::shared_ptr<platform::Event> pPostEvent = platform::OpenNamedEvent(kEventPost);
  std::shared_ptr<platform::Mutex> pLock = platform::OpenNamedMutex(kMutexPost);
  if (!pLock) {
    // DeviceThread holds them while this thread runs; without the lock nothing may play.
    WriteLog("PostThread: cannot open MUTEX POST\r\n");
    WriteLog("PostThread: terminate\r\n");
    if (pPostEvent) {
      pPostEvent->Set();
    }
    return;
  }
  platform::Clock& clock = *pBlock->output.pClock;
  platform::Event& wake = *pBlock->pWake;
  auto blRepeatWaiting = [pBlock] { return !CommandBufferEmpty() && pBlock->pblRepeat->load(); };

  while (!pBlock->blStop.load()) {
    if (blRepeatWaiting()) {
      if (!pLock->Lock(1)) {
        continue;  // the device thread holds it: look again at once
      }
      WriteLog("PostThread: begin posting\r\n");
      PostCommand(pBlock->output);
      WriteLog("PostThread: finish posting\r\n");
      pLock->Unlock();
      clock.Sleep(10);
    } else {
      // Nothing to repeat: sleep until there is, instead of looking every 10 ms. Reset
      // first, then look, then wait: a set in between is not lost.
      wake.Reset();
      if (pBlock->blStop.load() || blRepeatWaiting()) {
        continue;
      }
      wake.Wait();
    }
  }
  WriteLog("PostThread: terminate\r\n");
  if (pPostEvent) {
    pPostEvent->Set();
  }
}

DeviceThreadControl::~DeviceThreadControl() {
  if (Running()) {
    Stop();
  }
}

bool DeviceThreadControl::Start(DeviceThreadParams& params) {
  if (Running()) {
    WriteLog("StartDeviceThread: a device thread still runs\r\n");
    return false;
  }
  bool blExisted = false;
  m_pStopEvent = platform::CreateNamedEvent(kEventStopDevice, *params.pClock, false, &blExisted);
  if (!m_pStopEvent) {
    return false;
  }
  if (blExisted) {
    m_pStopEvent->Reset();
  }
  m_pParams = &params;
  params.blStop.store(false);
  if (!params.pClock->StartThread(m_thread, [pParams = &params] { DeviceThread(pParams); })) {
    WriteLog("StartDeviceThread: cannot start DeviceThread\r\n");
    return false;
  }
  return true;
}

void DeviceThreadControl::RequestStop() {
  if (m_pParams == nullptr) {
    return;
  }
  m_pParams->blStop.store(true);
  // Wakes the report wait. If the thread has not made the event yet, it sees the stop
  // byte before it first waits; if it has already dropped it, it is on its way out.
  if (std::shared_ptr<platform::Event> pReadEvent = platform::OpenNamedEvent(kEventRead)) {
    pReadEvent->Set();
  }
}

void DeviceThreadControl::WaitStopped() {
  if (!Running()) {
    return;
  }
  m_pStopEvent->Wait();
  m_thread.join();
}

bool DeviceThreadControl::Finished() const { return m_pStopEvent && m_pStopEvent->IsSet(); }

}  // namespace orb
