#pragma once
// A session bus of the test's own: a dbus-daemon started for the test and killed with it,
// so that tests neither see nor disturb the machine's session.

#include <sys/types.h>

#include <string>

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

}  // namespace orb::test
