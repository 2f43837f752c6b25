#include "core/control/ServiceControl.h"

#include <windows.h>

#include "core/control/PipeClient.h"
#include "core/platform/Handles.h"
#include "core/platform/System.h"
#include "core/util/LittleEndian.h"

namespace core {

namespace {

struct KindNames {
  std::string_view pipeSuffix;
  std::string_view serviceSuffix;  // after the family prefix
  std::string_view windowClass;
  std::string_view windowCaption;
};

constexpr KindNames Kinds[] = {
    {"SMTP", "SMTP", "TSMTPForm", "SMTP"},
    {"POP3", "POP3", "TPOP3Form", "POP3"},
    {"IMAP", "Control", "TControlForm", "Control"},
    {"Instant Messaging Server", "IM", "TIMForm", "Instant Messaging Server"},
    {"Calendaring Server", "Calendar", "TCalendarForm", "Calendaring Server"},
};

// The web mail service belongs to no family: same name everywhere, no pipe.
constexpr std::string_view WebMailServiceName = "VelmoraWebMail";
constexpr std::string_view WebMailWindowClass = "TWebMailForm";
constexpr std::string_view WebMailWindowCaption = "Velmora Web Mail";

constexpr int KindCount = static_cast<int>(sizeof(Kinds) / sizeof(Kinds[0]));

const KindNames* FindKind(int index) { return index >= 0 && index < KindCount ? &Kinds[index] : nullptr; }

HWND FindServiceWindow(int index, bool withWebMail) {
  const std::string windowClass(ServiceWindowClass(index, withWebMail));
  if (windowClass.empty()) return nullptr;
  const std::string caption(ServiceWindowCaption(index, withWebMail));
  return ::FindWindowA(windowClass.c_str(), caption.c_str());
}

class NotifyServerNotifier final : public ServiceNotifier {
 public:
  int Notify(int index, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override {
    return NotifyServer(index, message, wParam, lParam);
  }
};

}  // namespace

std::string ServiceNaming::PipeName(int index) const {
  std::string name(prefix);
  if (const KindNames* kind = FindKind(index)) name += kind->pipeSuffix;
  return name;
}

std::string ServiceNaming::ServiceName(int index) const {
  if (index == ServerWebMail) return std::string(WebMailServiceName);
  const KindNames* kind = FindKind(index);
  if (kind == nullptr) return {};
  std::string name(prefix);
  name += kind->serviceSuffix;
  return name;
}

std::string_view ServiceWindowClass(int index, bool withWebMail) {
  if (withWebMail && index == ServerWebMail) return WebMailWindowClass;
  const KindNames* kind = FindKind(index);
  return kind != nullptr ? kind->windowClass : std::string_view();
}

std::string_view ServiceWindowCaption(int index, bool withWebMail) {
  if (withWebMail && index == ServerWebMail) return WebMailWindowCaption;
  const KindNames* kind = FindKind(index);
  return kind != nullptr ? kind->windowCaption : std::string_view();
}

std::string GetServicePipeName(int index, const ServiceNaming& naming) { return naming.PipeName(index); }

std::array<std::uint8_t, ControlRequestSize> EncodeControlRequest(bool wantReply, std::uint32_t message,
                                                                  std::uint32_t wParam, std::uint32_t lParam) {
  std::array<std::uint8_t, ControlRequestSize> request{};
  StoreLE<std::uint32_t>(&request[0], wantReply ? ControlCommandWithReply : ControlCommand);
  StoreLE<std::uint32_t>(&request[4], message);
  StoreLE<std::uint32_t>(&request[8], wParam);
  StoreLE<std::uint32_t>(&request[12], lParam);
  return request;
}

std::int32_t DecodeControlReply(std::string_view reply) {
  if (reply.size() < 4) return 0;
  return static_cast<std::int32_t>(LoadLE<std::uint32_t>(reinterpret_cast<const std::uint8_t*>(reply.data())));
}

std::int32_t SendServiceCommand(int index, std::uint32_t message, std::uint32_t wParam, bool wantReply,
                                std::uint32_t lParam, const ServiceNaming& naming) {
  try {
    PipeClient client(GetServicePipeName(index, naming));
    const auto request = EncodeControlRequest(wantReply, message, wParam, lParam);
    const std::string_view bytes(reinterpret_cast<const char*>(request.data()), request.size());
    std::int32_t result = client.WriteString(bytes) ? 1 : 0;
    if (wantReply) {
      result = 0;
      std::string reply;
      if (client.ReadString(reply, ControlReplyLimit)) result = DecodeControlReply(reply);
    }
    return result;
  } catch (...) {
    return 0;
  }
}

int NotifyServer(int index, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam,
                 const ServiceNaming& naming) {
  try {
    if (IsWindowsNT()) {
      if (!IsServerRunning(index, ServiceStateRunning, naming)) return 0;
      return SendServiceCommand(index, message, wParam, false, lParam, naming);
    }
    const HWND window = FindServiceWindow(index, false);
    if (window == nullptr) return 0;
    ::SendMessageA(window, message, static_cast<WPARAM>(wParam),
                   static_cast<LPARAM>(static_cast<std::int32_t>(lParam)));
    return 1;
  } catch (...) {
    return 0;
  }
}

bool ServiceStateIs(std::string_view serviceName, std::uint32_t state) {
  if (serviceName.empty()) return false;
  const UniqueServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.get() == nullptr) return false;
  const std::string name(serviceName);
  const UniqueServiceHandle service(::OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  if (service.get() == nullptr) return false;
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service.get(), &status)) return false;
  return status.dwCurrentState == state;
}

bool IsServiceRunning(int index, bool asWindowsService, std::uint32_t state, const ServiceNaming& naming) {
  try {
    if (asWindowsService) return ServiceStateIs(naming.ServiceName(index), state);
    return FindServiceWindow(index, true) != nullptr;
  } catch (...) {
    return false;
  }
}

bool IsServerRunning(int index, std::uint32_t state, const ServiceNaming& naming) {
  if (IsWindowsNT() && IsServiceRunning(index, true, state, naming)) return true;
  return IsServiceRunning(index, false, state, naming);
}

ServiceNotifier::~ServiceNotifier() = default;

ServiceNotifier& DefaultServiceNotifier() {
  static NotifyServerNotifier notifier;
  return notifier;
}

}  // namespace core
