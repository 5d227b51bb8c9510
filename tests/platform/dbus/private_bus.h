#pragma once
// A session bus of the test's own: a dbus-daemon started for the test and killed with it,
// so that tests neither see nor disturb the machine's session.

#include <sys/types.h>

#include <string>
#include <thread>

#include "platform/dbus/dbus_connection.h"

namespace orb::test {

class PrivateBus final {
 public:
  PrivateBus();  // empty Address() when dbus-daemon could not be started
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& Address() const { return m_address; }

 private:
  pid_t m_pid = -1;
  std::string m_address;
};

// Dispatches a connection on a thread of its own until the object goes, as a peer program
// would while the test blocks in a call to it. The connection is the thread's meanwhile.
class BusServing final {
 public:
  explicit BusServing(platform::dbus::Connection& connection);
  ~BusServing();
  BusServing(const BusServing&) = delete;
  BusServing& operator=(const BusServing&) = delete;

 private:
  platform::dbus::Connection& m_connection;
  int m_stopFd;
  std::thread m_thread;
};

}  // namespace orb::test
