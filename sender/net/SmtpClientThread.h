#pragma once
// One SMTP delivery on a worker thread of its own: the thread connects,
// runs the conversation of SmtpConversation.h over the socket stream and
// ends. The creator waits for it and then reads the three results.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/platform/Handles.h"
#include "sender/net/SmtpConversation.h"

namespace sender {

class SmtpClientThread;

// What Create gives: the running thread, or why the envelope or the text was
// refused (nothing was opened then).
struct SmtpClientStart {
  std::unique_ptr<SmtpClientThread> thread;  // null when refused
  std::string refusal;                       // empty when started
};

class SmtpClientThread {
 public:
  // Checks the envelope and the text before anything is opened (see
  // MakeSmtpConnection; a refusal comes back as its reason), then starts the
  // thread one step above normal priority once every field is set. Raises
  // std::runtime_error when no thread can be started. Host name, address and
  // service are cut to 255 characters; the service, when given, decides the
  // port.
  static SmtpClientStart Create(std::string_view hostName, std::string_view address, std::string_view service,
                                std::string message, std::uint16_t port, std::string_view sender,
                                std::string_view recipients, std::string_view greeting);
  // Waits for the thread's end.
  ~SmtpClientThread();
  SmtpClientThread(const SmtpClientThread&) = delete;
  SmtpClientThread& operator=(const SmtpClientThread&) = delete;

  // Waits for the end of the conversation. Each result waits for it too, so
  // none is read while the thread may still write it.
  void WaitFor() const;
  // A connection to the server was made.
  bool Connected() const {
    WaitFor();
    return connected_;
  }
  // The server answered 250 to the message data.
  bool Sent() const {
    WaitFor();
    return outcome_.sent;
  }
  // The last reply the conversation handled, without its CRLF.
  const std::string& LastReply() const {
    WaitFor();
    return outcome_.lastReply;
  }

  // For tests: the time-outs of threads created from now on.
  static void SetTimeouts(const SmtpTimeouts& timeouts);

 private:
  SmtpClientThread() = default;
  static unsigned __stdcall Main(void* self);
  void Execute() noexcept;

  std::string hostName_, address_, service_;
  std::uint16_t port_ = 0;
  SmtpConnection connection_;
  SmtpTimeouts timeouts_;
  bool connected_ = false;
  SmtpOutcome outcome_;
  core::UniqueHandle thread_;
};

}  // namespace sender
