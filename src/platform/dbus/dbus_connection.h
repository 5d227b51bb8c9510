#pragma once
// A small client of the session bus: calls of other programs' methods, methods of our own
// for them to call, signals, and the connection's fd for the owner's poll loop. One
// connection belongs to one thread (the bus library below it is not thread-safe); a
// thread that needs the bus opens its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace orb::platform::dbus {

struct ObjectPath {
  std::string value;
  bool operator==(const ObjectPath&) const = default;
};

// One argument of a message. Only basic types travel through this layer; a variant that
// holds one arrives unwrapped, bytes and 16-bit integers widened to 32 bits, signatures
// as strings. Anything else (arrays, structs, dictionaries, fds) arrives as
// std::monostate, so that the positions of the other arguments stay put; monostate
// cannot be sent.
using Value = std::variant<std::monostate, bool, std::int32_t, std::uint32_t, std::int64_t, std::uint64_t, double,
                           std::string, ObjectPath>;
using Values = std::vector<Value>;

// A method call or signal as it reached us.
struct Message {
  std::string sender;  // the sender's unique name (":1.42")
  std::string path;
  std::string interface;
  std::string member;
  Values args;
};

// What an exported method answers: its reply's values, or a D-Bus error.
struct MethodResult {
  Values reply;
  std::string errorName;  // empty: success
  std::string errorText;

  static MethodResult Ok(Values values = {}) { return MethodResult{std::move(values), {}, {}}; }
  static MethodResult Error(std::string name, std::string text) {
    return MethodResult{{}, std::move(name), std::move(text)};
  }
};

// The text of a value, for logs and error messages ("'abc'", "42", "(none)").
std::string DescribeValue(const Value& value);

class Connection {
 public:
  static constexpr int kDefaultTimeoutMs = 5000;

  // The session bus of this process's environment (DBUS_SESSION_BUS_ADDRESS, else
  // $XDG_RUNTIME_DIR/bus). Null, with the reason in *pError, when it does not answer.
  static std::unique_ptr<Connection> OpenSession(std::string* pError);
  // A bus at a given address ("unix:path=..."), as a client that says Hello: for private
  // buses and tests.
  static std::unique_ptr<Connection> OpenAddress(const std::string& address, std::string* pError);

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Our name on the bus, given by it at connection (":1.42").
  const std::string& UniqueName() const { return m_uniqueName; }

  // Calls a method and waits up to nTimeoutMs for its answer. False, with "error.Name:
  // text" (or the local reason) in *pError, on an error reply, a time-out or a broken
  // connection. Messages for us that come meanwhile are kept for the next Dispatch; as
  // the fd has then been read, call Dispatch after Calls before sleeping on Fd() again.
  bool Call(const std::string& destination, const std::string& path, const std::string& interface,
            const std::string& member, const Values& args, Values* pReply, std::string* pError,
            int nTimeoutMs = kDefaultTimeoutMs);

  // Sends a call whose answer nobody waits for (notifications); false when it could not
  // be queued.
  bool CallNoReply(const std::string& destination, const std::string& path, const std::string& interface,
                   const std::string& member, const Values& args, std::string* pError);

  // Sends a signal to whoever subscribed to it (a stand-in service in tests speaks so).
  bool EmitSignal(const std::string& path, const std::string& interface, const std::string& member,
                  const Values& args, std::string* pError);

  // The unique name that owns a well-known name now; empty (with the reason) when none does.
  std::string NameOwner(const std::string& name, std::string* pError);

  // Asks for a well-known name for ourselves; false when another has it or it is refused.
  bool RequestName(const std::string& name, std::string* pError);

  // Calls of interface.member on path reach the handler during Dispatch; its result is the
  // reply. Other members on the path, or other paths, are left to the bus library's
  // "unknown method" answer. The registration lives as long as the connection.
  using MethodHandler = std::function<MethodResult(const Message&)>;
  bool ExportMethod(const std::string& path, const std::string& interface, const std::string& member,
                    MethodHandler handler, std::string* pError);

  // Signals that match every non-empty field reach the handler during Dispatch.
  using SignalHandler = std::function<void(const Message&)>;
  bool SubscribeSignal(const std::string& sender, const std::string& path, const std::string& interface,
                       const std::string& member, SignalHandler handler, std::string* pError);

  // Readable when Dispatch has something to do; the owner's loop watches it.
  int Fd() const;

  // Handles everything that waits, without blocking for new input, and sends the replies.
  // False, with the reason, once the connection is gone; it stays gone.
  bool Dispatch(std::string* pError);

  bool IsOpen() const;

 private:
  struct Impl;
  explicit Connection(std::unique_ptr<Impl> pImpl);

  std::unique_ptr<Impl> m_pImpl;
  std::string m_uniqueName;
};

}  // namespace orb::platform::dbus
