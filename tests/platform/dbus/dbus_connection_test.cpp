// The session-bus client against a dbus-daemon of the test's own: values that go and come
// back unchanged, errors that say what failed, names, signals, and a bus that goes away.
#include "platform/dbus/dbus_connection.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "private_bus.h"

namespace orb::platform::dbus {
namespace {

using namespace std::chrono_literals;

using Serving = test::BusServing;

class DBusConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (m_bus.Address().empty()) {
      GTEST_SKIP() << "dbus-daemon could not be started";
    }
  }
  std::unique_ptr<Connection> Open() {
    std::string error;
    auto pConnection = Connection::OpenAddress(m_bus.Address(), &error);
    EXPECT_NE(pConnection, nullptr) << error;
    return pConnection;
  }

  test::PrivateBus m_bus;
};

TEST_F(DBusConnectionTest, EveryBasicValueComesBackUnchangedWithTheCallersName) {
  auto pServer = Open();
  auto pClient = Open();
  ASSERT_TRUE(pServer && pClient);
  std::string seenSender;
  std::string error;
  ASSERT_TRUE(pServer->ExportMethod(
      "/test", "org.orb.Test", "Echo",
      [&](const Message& message) {
        seenSender = message.sender;
        return MethodResult::Ok(message.args);
      },
      &error))
      << error;
  const Values sent = {true,
                       std::int32_t{-7},
                       std::uint32_t{4000000000u},
                       std::int64_t{-1} << 40,
                       std::uint64_t{1} << 63,
                       2.5,
                       std::string("Grüße"),
                       ObjectPath{"/org/orb/x"},
                       std::string()};
  Serving serving(*pServer);
  Values reply;
  ASSERT_TRUE(pClient->Call(pServer->UniqueName(), "/test", "org.orb.Test", "Echo", sent, &reply, &error)) << error;
  EXPECT_EQ(reply, sent);
  EXPECT_EQ(seenSender, pClient->UniqueName());
  EXPECT_EQ(seenSender.front(), ':');
}

TEST_F(DBusConnectionTest, FailuresSayWhatFailedAndNeverHang) {
  auto pServer = Open();
  auto pClient = Open();
  ASSERT_TRUE(pServer && pClient);
  std::string error;
  ASSERT_TRUE(pServer->ExportMethod(
      "/test", "org.orb.Test", "Refuse",
      [](const Message&) { return MethodResult::Error("org.orb.Test.NotNow", "busy with something"); }, &error));
  {
    Serving serving(*pServer);
    EXPECT_FALSE(pClient->Call(pServer->UniqueName(), "/test", "org.orb.Test", "Refuse", {}, nullptr, &error));
    EXPECT_NE(error.find("org.orb.Test.NotNow: busy with something"), std::string::npos) << error;
    // Another member on the same path, and an unknown path, are answered, not left waiting.
    error.clear();
    EXPECT_FALSE(pClient->Call(pServer->UniqueName(), "/test", "org.orb.Test", "Other", {}, nullptr, &error, 3000));
    EXPECT_NE(error.find("org.freedesktop.DBus.Error.Unknown"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(pClient->Call(pServer->UniqueName(), "/elsewhere", "org.orb.Test", "Refuse", {}, nullptr, &error, 3000));
    EXPECT_NE(error.find("org.freedesktop.DBus.Error.Unknown"), std::string::npos) << error;
    // A value that has no wire form is refused before anything is sent.
    error.clear();
    EXPECT_FALSE(pClient->Call(pServer->UniqueName(), "/test", "org.orb.Test", "Refuse", {std::monostate{}}, nullptr,
                               &error));
    EXPECT_NE(error.find("could not be built"), std::string::npos) << error;
  }
  // Nobody dispatches the server now: the call ends at its time-out.
  error.clear();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(pClient->Call(pServer->UniqueName(), "/test", "org.orb.Test", "Refuse", {}, nullptr, &error, 200));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_FALSE(error.empty());
}

TEST_F(DBusConnectionTest, ContainersArriveAsPlaceholdersKeepingThePositionsOfTheRest) {
  auto pClient = Open();
  ASSERT_TRUE(pClient);
  // The bus's own ListNames answers one array of strings; GetId one string.
  Values reply;
  std::string error;
  ASSERT_TRUE(pClient->Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames",
                            {}, &reply, &error))
      << error;
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(reply[0]));
  // and what follows a placeholder-free reply is read as usual.
  ASSERT_TRUE(pClient->Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", {},
                            &reply, &error))
      << error;
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(std::get<std::string>(reply[0]).size(), 32u);
}

TEST_F(DBusConnectionTest, WellKnownNamesAndTheSignalsThatAnnounceThem) {
  auto pWatcher = Open();
  auto pOwner = Open();
  auto pRival = Open();
  ASSERT_TRUE(pWatcher && pOwner && pRival);
  std::string error;
  std::vector<Values> changes;
  ASSERT_TRUE(pWatcher->SubscribeSignal(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged",
      [&](const Message& message) {
        if (!message.args.empty() && message.args[0] == Value(std::string("org.orb.Probe"))) {
          changes.push_back(message.args);
        }
      },
      &error))
      << error;
  EXPECT_EQ(pWatcher->NameOwner("org.orb.Probe", &error), "");
  EXPECT_NE(error.find("NameHasNoOwner"), std::string::npos) << error;

  ASSERT_TRUE(pOwner->RequestName("org.orb.Probe", &error)) << error;
  const std::string ownerName = pOwner->UniqueName();
  EXPECT_FALSE(pRival->RequestName("org.orb.Probe", &error));
  error.clear();
  EXPECT_EQ(pWatcher->NameOwner("org.orb.Probe", &error), pOwner->UniqueName()) << error;

  // The signal was read during the NameOwner call: Dispatch delivers it without the fd
  // becoming readable again.
  ASSERT_TRUE(pWatcher->Dispatch(&error)) << error;
  pOwner.reset();  // its name goes with it
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (changes.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    pollfd waiter{pWatcher->Fd(), POLLIN, 0};
    ::poll(&waiter, 1, 100);
    ASSERT_TRUE(pWatcher->Dispatch(&error)) << error;
  }
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0][2], Value(ownerName));
  EXPECT_EQ(changes[1][1], Value(ownerName));
  EXPECT_EQ(changes[1][2], Value(std::string()));
}

TEST(DBusConnectionLoss, ABusThatGoesAwayIsReportedAndStaysGone) {
  auto pBus = std::make_unique<test::PrivateBus>();
  if (pBus->Address().empty()) {
    GTEST_SKIP() << "dbus-daemon could not be started";
  }
  std::string error;
  auto pConnection = Connection::OpenAddress(pBus->Address(), &error);
  ASSERT_NE(pConnection, nullptr) << error;
  ASSERT_TRUE(pConnection->Dispatch(&error)) << error;
  pBus.reset();
  pollfd waiter{pConnection->Fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&waiter, 1, 5000), 1);
  EXPECT_FALSE(pConnection->Dispatch(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(pConnection->IsOpen());
  EXPECT_FALSE(pConnection->Dispatch(&error));
  EXPECT_FALSE(pConnection->Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", {},
                                 nullptr, &error));
}

TEST(DBusConnectionOpen, AnAddressWithoutABusIsRefusedWithTheAddress) {
  std::string error;
  EXPECT_EQ(Connection::OpenAddress("unix:path=/nonexistent/orb-bus", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/orb-bus"), std::string::npos) << error;
}

}  // namespace
}  // namespace orb::platform::dbus
