// The session-bus client on sd-bus: it sits below the Qt line and needs no main loop of
// its own, only an fd that the owner's loop watches.
#include "platform/dbus/dbus_connection.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <utility>

namespace orb::platform::dbus {
namespace {

std::string ErrnoText(int nNegErrno) { return std::strerror(-nNegErrno); }

// "name: text" of an sd-bus error, or the errno's text when the error carries none.
std::string ErrorText(const sd_bus_error& error, int nNegErrno) {
  if (sd_bus_error_is_set(&error)) {
    std::string text = error.name;
    if (error.message != nullptr && error.message[0] != '\0') {
      text += ": ";
      text += error.message;
    }
    return text;
  }
  return ErrnoText(nNegErrno);
}

// Frees an sd-bus error when the scope ends, however it ends.
struct ScopedError {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ScopedError() = default;
  ScopedError(const ScopedError&) = delete;
  ScopedError& operator=(const ScopedError&) = delete;
  ~ScopedError() { sd_bus_error_free(&error); }
};

struct MessageRef {
  sd_bus_message* p = nullptr;
  MessageRef() = default;
  MessageRef(const MessageRef&) = delete;
  MessageRef& operator=(const MessageRef&) = delete;
  ~MessageRef() { sd_bus_message_unref(p); }
};

bool IsBasic(char cType) {
  switch (cType) {
    case SD_BUS_TYPE_BYTE:
    case SD_BUS_TYPE_BOOLEAN:
    case SD_BUS_TYPE_INT16:
    case SD_BUS_TYPE_UINT16:
    case SD_BUS_TYPE_INT32:
    case SD_BUS_TYPE_UINT32:
    case SD_BUS_TYPE_INT64:
    case SD_BUS_TYPE_UINT64:
    case SD_BUS_TYPE_DOUBLE:
    case SD_BUS_TYPE_STRING:
    case SD_BUS_TYPE_OBJECT_PATH:
    case SD_BUS_TYPE_SIGNATURE:
      return true;
    default:
      return false;
  }
}

// Reads one basic value of type cType at the message's position.
int ReadBasic(sd_bus_message* pMessage, char cType, Value* pValue) {
  int r = 0;
  switch (cType) {
    case SD_BUS_TYPE_BYTE: {
      std::uint8_t n = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &n);
      *pValue = static_cast<std::uint32_t>(n);
      break;
    }
    case SD_BUS_TYPE_BOOLEAN: {
      int n = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &n);
      *pValue = n != 0;
      break;
    }
    case SD_BUS_TYPE_INT16: {
      std::int16_t n = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &n);
      *pValue = static_cast<std::int32_t>(n);
      break;
    }
    case SD_BUS_TYPE_UINT16: {
      std::uint16_t n = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &n);
      *pValue = static_cast<std::uint32_t>(n);
      break;
    }
    case SD_BUS_TYPE_INT32: {
      std::int32_t n = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &n);
      *pValue = n;
      break;
    }
    case SD_BUS_TYPE_UINT32: {
      std::uint32_t n = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &n);
      *pValue = n;
      break;
    }
    case SD_BUS_TYPE_INT64: {
      std::int64_t n = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &n);
      *pValue = n;
      break;
    }
    case SD_BUS_TYPE_UINT64: {
      std::uint64_t n = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &n);
      *pValue = n;
      break;
    }
    case SD_BUS_TYPE_DOUBLE: {
      double d = 0;
      r = sd_bus_message_read_basic(pMessage, cType, &d);
      *pValue = d;
      break;
    }
    case SD_BUS_TYPE_OBJECT_PATH: {
      const char* p = nullptr;
      r = sd_bus_message_read_basic(pMessage, cType, &p);
      *pValue = ObjectPath{p != nullptr ? p : ""};
      break;
    }
    default: {  // string, signature
      const char* p = nullptr;
      r = sd_bus_message_read_basic(pMessage, cType, &p);
      *pValue = std::string(p != nullptr ? p : "");
      break;
    }
  }
  return r;
}

// The signature of the complete type at the position, to skip it whole.
std::string WholeSignature(char cType, const char* pContents) {
  const std::string contents = pContents != nullptr ? pContents : "";
  switch (cType) {
    case SD_BUS_TYPE_ARRAY:
      return "a" + contents;
    case SD_BUS_TYPE_STRUCT:
      return "(" + contents + ")";
    case SD_BUS_TYPE_DICT_ENTRY:
      return "{" + contents + "}";
    default:
      return std::string(1, cType);
  }
}

// All of a message's arguments, each basic one (or a variant of one) as its value,
// anything else as monostate.
int ReadValues(sd_bus_message* pMessage, Values* pValues) {
  for (;;) {
    char cType = 0;
    const char* pContents = nullptr;
    int r = sd_bus_message_peek_type(pMessage, &cType, &pContents);
    if (r <= 0) {
      return r;
    }
    Value value;
    if (IsBasic(cType)) {
      r = ReadBasic(pMessage, cType, &value);
    } else if (cType == SD_BUS_TYPE_VARIANT && pContents != nullptr && std::strlen(pContents) == 1 &&
               IsBasic(pContents[0])) {
      r = sd_bus_message_enter_container(pMessage, cType, pContents);
      if (r >= 0) r = ReadBasic(pMessage, pContents[0], &value);
      if (r >= 0) r = sd_bus_message_exit_container(pMessage);
    } else {
      r = sd_bus_message_skip(pMessage, WholeSignature(cType, pContents).c_str());
    }
    if (r < 0) {
      return r;
    }
    pValues->push_back(std::move(value));
  }
}

int AppendValues(sd_bus_message* pMessage, const Values& values) {
  for (const Value& value : values) {
    int r = -EINVAL;
    if (const auto* pBool = std::get_if<bool>(&value)) {
      const int n = *pBool ? 1 : 0;
      r = sd_bus_message_append_basic(pMessage, SD_BUS_TYPE_BOOLEAN, &n);
    } else if (const auto* pI32 = std::get_if<std::int32_t>(&value)) {
      r = sd_bus_message_append_basic(pMessage, SD_BUS_TYPE_INT32, pI32);
    } else if (const auto* pU32 = std::get_if<std::uint32_t>(&value)) {
      r = sd_bus_message_append_basic(pMessage, SD_BUS_TYPE_UINT32, pU32);
    } else if (const auto* pI64 = std::get_if<std::int64_t>(&value)) {
      r = sd_bus_message_append_basic(pMessage, SD_BUS_TYPE_INT64, pI64);
    } else if (const auto* pU64 = std::get_if<std::uint64_t>(&value)) {
      r = sd_bus_message_append_basic(pMessage, SD_BUS_TYPE_UINT64, pU64);
    } else if (const auto* pDouble = std::get_if<double>(&value)) {
      r = sd_bus_message_append_basic(pMessage, SD_BUS_TYPE_DOUBLE, pDouble);
    } else if (const auto* pString = std::get_if<std::string>(&value)) {
      r = sd_bus_message_append_basic(pMessage, SD_BUS_TYPE_STRING, pString->c_str());
    } else if (const auto* pPath = std::get_if<ObjectPath>(&value)) {
      r = sd_bus_message_append_basic(pMessage, SD_BUS_TYPE_OBJECT_PATH, pPath->value.c_str());
    }
    if (r < 0) {
      return r;
    }
  }
  return 0;
}

std::string Text(const char* p) { return p != nullptr ? p : ""; }

Message Describe(sd_bus_message* pMessage) {
  Message message;
  message.sender = Text(sd_bus_message_get_sender(pMessage));
  message.path = Text(sd_bus_message_get_path(pMessage));
  message.interface = Text(sd_bus_message_get_interface(pMessage));
  message.member = Text(sd_bus_message_get_member(pMessage));
  return message;
}

}  // namespace

std::string DescribeValue(const Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return "(none)";
  if (const auto* p = std::get_if<bool>(&value)) return *p ? "true" : "false";
  if (const auto* p = std::get_if<std::int32_t>(&value)) return std::to_string(*p);
  if (const auto* p = std::get_if<std::uint32_t>(&value)) return std::to_string(*p);
  if (const auto* p = std::get_if<std::int64_t>(&value)) return std::to_string(*p);
  if (const auto* p = std::get_if<std::uint64_t>(&value)) return std::to_string(*p);
  if (const auto* p = std::get_if<double>(&value)) return std::to_string(*p);
  if (const auto* p = std::get_if<std::string>(&value)) return "'" + *p + "'";
  return "path " + std::get<ObjectPath>(value).value;
}

struct Connection::Impl {
  struct Method {
    std::string interface;
    std::string member;
    MethodHandler handler;
    sd_bus_slot* pSlot = nullptr;
  };
  struct Signal {
    SignalHandler handler;
    sd_bus_slot* pSlot = nullptr;
  };

  sd_bus* pBus = nullptr;
  // Lists: the bus library keeps pointers to the elements.
  std::list<Method> methods;
  std::list<Signal> signals;

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    for (Method& method : methods) sd_bus_slot_unref(method.pSlot);
    for (Signal& signal : signals) sd_bus_slot_unref(signal.pSlot);
    if (pBus != nullptr) {
      sd_bus_flush_close_unref(pBus);
    }
  }

  static int OnMethod(sd_bus_message* pCall, void* pUserData, sd_bus_error* /*pError*/) {
    const auto& method = *static_cast<Method*>(pUserData);
    if (!sd_bus_message_is_method_call(pCall, method.interface.c_str(), method.member.c_str())) {
      return 0;  // someone else's (or nobody's: the library answers "unknown method")
    }
    Message message = Describe(pCall);
    if (const int r = ReadValues(pCall, &message.args); r < 0) {
      return sd_bus_reply_method_errorf(pCall, SD_BUS_ERROR_INVALID_ARGS, "unreadable arguments: %s",
                                        ErrnoText(r).c_str());
    }
    const MethodResult result = method.handler(message);
    if (!result.errorName.empty()) {
      return sd_bus_reply_method_errorf(pCall, result.errorName.c_str(), "%s", result.errorText.c_str());
    }
    MessageRef reply;
    int r = sd_bus_message_new_method_return(pCall, &reply.p);
    if (r >= 0) r = AppendValues(reply.p, result.reply);
    if (r < 0) {
      return sd_bus_reply_method_errorf(pCall, SD_BUS_ERROR_FAILED, "reply not built: %s", ErrnoText(r).c_str());
    }
    r = sd_bus_send(nullptr, reply.p, nullptr);
    return r < 0 ? r : 1;
  }

  static int OnSignal(sd_bus_message* pSignal, void* pUserData, sd_bus_error* /*pError*/) {
    const auto& signal = *static_cast<Signal*>(pUserData);
    Message message = Describe(pSignal);
    if (ReadValues(pSignal, &message.args) < 0) {
      return 0;  // a signal we cannot read is one we did not get
    }
    signal.handler(message);
    return 0;  // others may match it too
  }
};

Connection::Connection(std::unique_ptr<Impl> pImpl) : m_pImpl(std::move(pImpl)) {
  const char* pName = nullptr;
  if (sd_bus_get_unique_name(m_pImpl->pBus, &pName) >= 0 && pName != nullptr) {
    m_uniqueName = pName;
  }
}

Connection::~Connection() = default;

std::unique_ptr<Connection> Connection::OpenSession(std::string* pError) {
  auto pImpl = std::make_unique<Impl>();
  if (const int r = sd_bus_open_user(&pImpl->pBus); r < 0) {
    pImpl->pBus = nullptr;
    *pError = "no session bus: " + ErrnoText(r);
    return nullptr;
  }
  // The unique name comes with the Hello's answer; without it the bus did not answer.
  const char* pName = nullptr;
  if (const int r = sd_bus_get_unique_name(pImpl->pBus, &pName); r < 0) {
    *pError = "the session bus did not answer: " + ErrnoText(r);
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(std::move(pImpl)));
}

std::unique_ptr<Connection> Connection::OpenAddress(const std::string& address, std::string* pError) {
  auto pImpl = std::make_unique<Impl>();
  int r = sd_bus_new(&pImpl->pBus);
  if (r < 0) {
    pImpl->pBus = nullptr;
    *pError = "no bus object: " + ErrnoText(r);
    return nullptr;
  }
  r = sd_bus_set_address(pImpl->pBus, address.c_str());
  if (r >= 0) r = sd_bus_set_bus_client(pImpl->pBus, 1);
  if (r >= 0) r = sd_bus_start(pImpl->pBus);
  const char* pName = nullptr;
  if (r >= 0) r = sd_bus_get_unique_name(pImpl->pBus, &pName);
  if (r < 0) {
    *pError = "the bus at " + address + " did not answer: " + ErrnoText(r);
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(std::move(pImpl)));
}

bool Connection::Call(const std::string& destination, const std::string& path, const std::string& interface,
                      const std::string& member, const Values& args, Values* pReply, std::string* pError,
                      int nTimeoutMs) {
  const std::string what = destination + " " + path + " " + interface + "." + member;
  MessageRef call;
  int r = sd_bus_message_new_method_call(m_pImpl->pBus, &call.p, destination.c_str(), path.c_str(),
                                         interface.c_str(), member.c_str());
  if (r >= 0) r = AppendValues(call.p, args);
  if (r < 0) {
    *pError = what + ": the call could not be built: " + ErrnoText(r);
    return false;
  }
  ScopedError error;
  MessageRef reply;
  r = sd_bus_call(m_pImpl->pBus, call.p, static_cast<std::uint64_t>(nTimeoutMs > 0 ? nTimeoutMs : 1) * 1000,
                  &error.error, &reply.p);
  if (r < 0) {
    *pError = what + ": " + ErrorText(error.error, r);
    return false;
  }
  Values values;
  if (r = ReadValues(reply.p, &values); r < 0) {
    *pError = what + ": the reply could not be read: " + ErrnoText(r);
    return false;
  }
  if (pReply != nullptr) {
    *pReply = std::move(values);
  }
  return true;
}

bool Connection::CallNoReply(const std::string& destination, const std::string& path, const std::string& interface,
                             const std::string& member, const Values& args, std::string* pError) {
  MessageRef call;
  int r = sd_bus_message_new_method_call(m_pImpl->pBus, &call.p, destination.c_str(), path.c_str(),
                                         interface.c_str(), member.c_str());
  if (r >= 0) r = sd_bus_message_set_expect_reply(call.p, 0);
  if (r >= 0) r = AppendValues(call.p, args);
  if (r >= 0) r = sd_bus_send(m_pImpl->pBus, call.p, nullptr);
  if (r >= 0) r = sd_bus_flush(m_pImpl->pBus);
  if (r < 0) {
    *pError = destination + " " + path + " " + interface + "." + member + ": not sent: " + ErrnoText(r);
    return false;
  }
  return true;
}

bool Connection::EmitSignal(const std::string& path, const std::string& interface, const std::string& member,
                            const Values& args, std::string* pError) {
  MessageRef signal;
  int r = sd_bus_message_new_signal(m_pImpl->pBus, &signal.p, path.c_str(), interface.c_str(), member.c_str());
  if (r >= 0) r = AppendValues(signal.p, args);
  if (r >= 0) r = sd_bus_send(m_pImpl->pBus, signal.p, nullptr);
  if (r >= 0) r = sd_bus_flush(m_pImpl->pBus);
  if (r < 0) {
    *pError = path + " " + interface + "." + member + ": signal not sent: " + ErrnoText(r);
    return false;
  }
  return true;
}

std::string Connection::NameOwner(const std::string& name, std::string* pError) {
  Values reply;
  if (!Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner", {name}, &reply,
            pError)) {
    return {};
  }
  if (reply.empty() || !std::holds_alternative<std::string>(reply[0])) {
    *pError = "the bus answered GetNameOwner without a name";
    return {};
  }
  return std::get<std::string>(reply[0]);
}

bool Connection::RequestName(const std::string& name, std::string* pError) {
  // Without queueing: a name another holds is refused now rather than given later unseen.
  const int r = sd_bus_request_name(m_pImpl->pBus, name.c_str(), 0);
  if (r < 0) {
    *pError = "the name " + name + " was refused: " + ErrnoText(r);
    return false;
  }
  return true;
}

bool Connection::ExportMethod(const std::string& path, const std::string& interface, const std::string& member,
                              MethodHandler handler, std::string* pError) {
  Impl::Method& method = m_pImpl->methods.emplace_back();
  method.interface = interface;
  method.member = member;
  method.handler = std::move(handler);
  const int r = sd_bus_add_object(m_pImpl->pBus, &method.pSlot, path.c_str(), &Impl::OnMethod, &method);
  if (r < 0) {
    m_pImpl->methods.pop_back();
    *pError = "the method " + interface + "." + member + " on " + path + " was not exported: " + ErrnoText(r);
    return false;
  }
  return true;
}

bool Connection::SubscribeSignal(const std::string& sender, const std::string& path, const std::string& interface,
                                 const std::string& member, SignalHandler handler, std::string* pError) {
  auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
  Impl::Signal& signal = m_pImpl->signals.emplace_back();
  signal.handler = std::move(handler);
  const int r = sd_bus_match_signal(m_pImpl->pBus, &signal.pSlot, orNull(sender), orNull(path), orNull(interface),
                                    orNull(member), &Impl::OnSignal, &signal);
  if (r < 0) {
    m_pImpl->signals.pop_back();
    *pError = "the signal " + interface + "." + member + " was not subscribed to: " + ErrnoText(r);
    return false;
  }
  return true;
}

int Connection::Fd() const { return sd_bus_get_fd(m_pImpl->pBus); }

bool Connection::IsOpen() const { return sd_bus_is_open(m_pImpl->pBus) > 0; }

bool Connection::Dispatch(std::string* pError) {
  for (;;) {
    const int r = sd_bus_process(m_pImpl->pBus, nullptr);
    if (r < 0) {
      *pError = "the bus connection failed: " + ErrnoText(r);
      return false;
    }
    if (r == 0) {
      break;
    }
  }
  // Replies are small; waiting for them to be written keeps the loop free of POLLOUT.
  if (const int r = sd_bus_flush(m_pImpl->pBus); r < 0) {
    *pError = "the bus connection failed: " + ErrnoText(r);
    return false;
  }
  if (!IsOpen()) {
    *pError = "the bus closed the connection";
    return false;
  }
  return true;
}

}  // namespace orb::platform::dbus
