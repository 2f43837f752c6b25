// The control channel to the running server services: their names, the
// 16-byte control request, and the operations that send a message to a
// service over its pipe or to its hidden window.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// The service index. Any other value is allowed where an index is taken: it
// names the bare pipe prefix and has no window.
enum ServerKind : int {
  ServerSmtp = 0,
  ServerPop3 = 1,
  ServerControl = 2,
  ServerInstantMessaging = 3,
  ServerCalendaring = 4,
  ServerWebMail = 5,  // only asked whether it runs
};

// Messages the libraries send.
inline constexpr std::uint32_t ConfigChangedMessage = 0x500;
inline constexpr std::uint32_t InstantMessageNotice = 0x501;
inline constexpr std::uint32_t ReloadServicesMessage = 0x513;
inline constexpr std::uint32_t SpamIndexMessage = 0x5A0;

// Service state as the service control manager reports it.
inline constexpr std::uint32_t ServiceStateRunning = 4;

// Naming of one product family's services: the prefix goes before the pipe
// names and the Windows service names; window classes and captions are the
// same for every family.
struct ServiceNaming {
  std::string_view prefix;

  // prefix + the kind's pipe suffix ("" for web mail and unknown kinds).
  std::string PipeName(int index) const;
  // Windows service name; empty for an unknown kind.
  std::string ServiceName(int index) const;
};

inline constexpr ServiceNaming ParlinexNaming{"Parlinex"};
inline constexpr ServiceNaming TolumNaming{"Tolum"};

// Window class and caption of a kind's hidden main window; empty for a kind
// without one. withWebMail also answers for the web mail service, which is
// only looked for by the running test, never sent a message.
std::string_view ServiceWindowClass(int index, bool withWebMail);
std::string_view ServiceWindowCaption(int index, bool withWebMail);

std::string GetServicePipeName(int index, const ServiceNaming& naming = ParlinexNaming);

inline constexpr std::uint32_t ControlCommand = 0x1000;
inline constexpr std::uint32_t ControlCommandWithReply = 0x1003;
inline constexpr std::size_t ControlRequestSize = 16;
inline constexpr std::size_t ControlReplyLimit = 2048;

// {command, message, wParam, lParam}, four little-endian 32-bit integers.
std::array<std::uint8_t, ControlRequestSize> EncodeControlRequest(bool wantReply, std::uint32_t message,
                                                                  std::uint32_t wParam, std::uint32_t lParam);
// The first four reply bytes, little-endian; 0 for a shorter reply.
std::int32_t DecodeControlReply(std::string_view reply);

// Sends one request over the kind's pipe, whatever the platform and whether
// or not the service runs. Without a reply: 1 when the request was written,
// else 0. With a reply: the reply's result, 0 when none came.
std::int32_t SendServiceCommand(int index, std::uint32_t message, std::uint32_t wParam, bool wantReply,
                                std::uint32_t lParam, const ServiceNaming& naming = ParlinexNaming);

// Tells a running service: on Windows NT over its pipe when it runs, elsewhere
// by a window message. 1 when delivered, 0 when not.
int NotifyServer(int index, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam,
                 const ServiceNaming& naming = ParlinexNaming);

// True when the service control manager reports the service in that state.
// A missing manager or service counts as not in it.
bool ServiceStateIs(std::string_view serviceName, std::uint32_t state);

// One step of the running test: through the service control manager when
// asWindowsService, else by looking for the kind's window.
bool IsServiceRunning(int index, bool asWindowsService, std::uint32_t state,
                      const ServiceNaming& naming = ParlinexNaming);

// On Windows NT the manager is asked first and the window looked for when it
// says no; elsewhere only the window counts. Callers pass ServiceStateRunning.
bool IsServerRunning(int index, std::uint32_t state, const ServiceNaming& naming = ParlinexNaming);

// The notification operation as the session code sees it, so that its tests
// can record notices instead of sending them.
struct ServiceNotifier {
  virtual ~ServiceNotifier();
  virtual int Notify(int index, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) = 0;
};

// Sends through NotifyServer with the default naming.
ServiceNotifier& DefaultServiceNotifier();

}  // namespace core
