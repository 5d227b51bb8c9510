#pragma once
// What the real players say about themselves, read over their own control interfaces:
// mpv's JSON IPC socket (--input-ipc-server) and VLC's HTTP interface (status.json).

#include <QJsonObject>
#include <QJsonValue>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orb::test {

// One connection to mpv's IPC socket. Replies are matched by request id; the events mpv
// sends in between are skipped.
class MpvLink final {
 public:
  MpvLink() = default;
  ~MpvLink();
  MpvLink(const MpvLink&) = delete;
  MpvLink& operator=(const MpvLink&) = delete;

  // Connects, retrying until mpv has made its socket or the time is up.
  bool Connect(const std::filesystem::path& socketPath, std::chrono::milliseconds timeout);

  // The property's value; nullopt when mpv has none (yet) or does not answer.
  std::optional<QJsonValue> Get(const std::string& sProperty);
  std::optional<double> GetNumber(const std::string& sProperty);
  std::optional<bool> GetFlag(const std::string& sProperty);

  // Runs a command given as a JSON array text, e.g. ["seek", 10, "absolute+exact"].
  bool Command(const std::string& sJsonArray);

  // Waits for an event mpv sent after the reply to the last command, and forgets those
  // before it: mpv replies to a seek before it has seeked, the "playback-restart" event
  // says it is done. The socket keeps order, so an earlier seek's events cannot pass.
  bool WaitForEvent(const std::string& sName, std::chrono::milliseconds timeout);

 private:
  std::optional<QJsonObject> Ask(const std::string& sJsonArray);
  // Moves the complete lines that have arrived out of m_pending: events into m_events,
  // the reply to `nId` into `pReply` (when given), which empties m_events.
  void TakeLines(long nId, std::optional<QJsonObject>* pReply);

  int m_hSocket = -1;
  long m_nNextId = 1;
  std::string m_pending;
  std::vector<std::string> m_events;
};

// VLC's HTTP interface on 127.0.0.1: GET /requests/status.json with its password.
class VlcLink final {
 public:
  VlcLink(int nPort, std::string sPassword) : m_nPort(nPort), m_sPassword(std::move(sPassword)) {}

  // The parsed status, or nullopt when VLC does not answer (yet).
  std::optional<QJsonObject> Status(const std::string& sQuery = "");

  // Playing time in seconds from the position, which VLC gives as a fraction of the length
  // (its "time" field is whole seconds only).
  std::optional<double> Seconds();

 private:
  int m_nPort;
  std::string m_sPassword;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();

}  // namespace orb::test
