#include "platform/network/NetworkCost.h"

#include <dbus/dbus.h>

#include <cstdint>
#include <memory>

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kObject = "/org/freedesktop/NetworkManager";
constexpr int kTimeoutMs = 2000;

// NetworkManager's NMMetered values.
constexpr std::uint32_t kMeteredYes = 1;
constexpr std::uint32_t kMeteredGuessYes = 3;

struct Error {
  Error() { dbus_error_init(&error); }
  ~Error() { dbus_error_free(&error); }
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  DBusError error;
};

struct CloseConnection {
  void operator()(DBusConnection* connection) const {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
  }
};
struct UnrefMessage {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};

}  // namespace

NetworkCost CurrentNetworkCost(std::string& detail) {
  dbus_threads_init_default();
  Error error;
  // A connection of its own, closed again: the shared one would stay open,
  // and libdbus would end the process when the bus went away.
  std::unique_ptr<DBusConnection, CloseConnection> bus(dbus_bus_get_private(DBUS_BUS_SYSTEM, &error.error));
  if (!bus) {
    detail = std::string("no system bus (") + (error.error.message ? error.error.message : "unknown") + ")";
    return NetworkCost::kUnknown;
  }
  dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
  std::unique_ptr<DBusMessage, UnrefMessage> call(
      dbus_message_new_method_call(kService, kObject, "org.freedesktop.DBus.Properties", "Get"));
  if (!call) return NetworkCost::kUnknown;
  // Asking must not start NetworkManager where it is installed but not run.
  dbus_message_set_auto_start(call.get(), FALSE);
  const char* interface = kService;
  const char* property = "Metered";
  if (!dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property,
                                DBUS_TYPE_INVALID))
    return NetworkCost::kUnknown;
  std::unique_ptr<DBusMessage, UnrefMessage> reply(
      dbus_connection_send_with_reply_and_block(bus.get(), call.get(), kTimeoutMs, &error.error));
  if (!reply) {
    detail =
        std::string("no answer from NetworkManager (") + (error.error.message ? error.error.message : "unknown") + ")";
    return NetworkCost::kUnknown;
  }
  DBusMessageIter top, variant;
  if (!dbus_message_iter_init(reply.get(), &top) || dbus_message_iter_get_arg_type(&top) != DBUS_TYPE_VARIANT) {
    detail = "NetworkManager's Metered is not a variant";
    return NetworkCost::kUnknown;
  }
  dbus_message_iter_recurse(&top, &variant);
  if (dbus_message_iter_get_arg_type(&variant) != DBUS_TYPE_UINT32) {
    detail = "NetworkManager's Metered is not a number";
    return NetworkCost::kUnknown;
  }
  dbus_uint32_t metered = 0;
  dbus_message_iter_get_basic(&variant, &metered);
  detail = "NetworkManager says Metered=" + std::to_string(metered);
  return metered == kMeteredYes || metered == kMeteredGuessYes ? NetworkCost::kMetered : NetworkCost::kUnmetered;
}
