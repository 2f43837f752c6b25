#include "sender/net/SmtpClientThread.h"

#include <process.h>

#include <atomic>
#include <stdexcept>

#include "sender/net/WinSocket.h"

namespace sender {

namespace {

std::atomic<std::uint32_t> g_replyMs{SmtpTimeouts{}.replyMs};
std::atomic<std::uint32_t> g_dataReplyMs{SmtpTimeouts{}.dataReplyMs};

constexpr std::size_t MaxServerText = 255;

// The conversation's transport over the blocking socket stream, which was
// made with the reply time-out; that one bounds every read and write.
class SocketTransport final : public SmtpTransport {
 public:
  SocketTransport(CustomWinSocket& socket, WinSocketStream& stream) : socket_(socket), stream_(stream) {}
  bool WaitReadable(std::uint32_t timeoutMs) override { return socket_.Connected() && stream_.WaitReadable(timeoutMs); }
  std::int32_t Read(char* buffer, std::int32_t count, std::uint32_t /*timeoutMs*/) override {
    return socket_.Connected() ? stream_.Read(buffer, count) : 0;
  }
  std::int32_t Write(const char* data, std::int32_t count, std::uint32_t /*timeoutMs*/) override {
    return socket_.Connected() ? stream_.Write(data, count) : 0;
  }
  std::uint64_t NowMs() override { return ::GetTickCount64(); }
  void Close() override { socket_.CloseConnection(); }

 private:
  CustomWinSocket& socket_;
  WinSocketStream& stream_;
};

}  // namespace

SmtpClientStart SmtpClientThread::Create(std::string_view hostName, std::string_view address, std::string_view service,
                                         std::string message, std::uint16_t port, std::string_view sender,
                                         std::string_view recipients, std::string_view greeting) {
  std::unique_ptr<SmtpClientThread> thread(new SmtpClientThread);
  try {
    thread->connection_ =
        MakeSmtpConnection(sender, recipients, greeting, std::make_shared<const std::string>(std::move(message)));
  } catch (const std::invalid_argument& refused) {
    return {nullptr, refused.what()};
  }
  thread->hostName_ = hostName.substr(0, MaxServerText);
  thread->address_ = address.substr(0, MaxServerText);
  thread->service_ = service.substr(0, MaxServerText);
  thread->port_ = port;
  thread->timeouts_ = {g_replyMs.load(), g_dataReplyMs.load()};

  const std::uintptr_t started = ::_beginthreadex(nullptr, 0, &Main, thread.get(), CREATE_SUSPENDED, nullptr);
  if (started == 0) throw std::runtime_error("the SMTP thread could not be started");
  thread->thread_.reset(reinterpret_cast<HANDLE>(started));
  ::SetThreadPriority(thread->thread_.get(), THREAD_PRIORITY_ABOVE_NORMAL);
  if (::ResumeThread(thread->thread_.get()) == static_cast<DWORD>(-1)) {
    // It never ran a line: nothing to wait for.
    ::TerminateThread(thread->thread_.get(), 1);
    thread->thread_.reset();
    throw std::runtime_error("the SMTP thread could not be started");
  }
  return {std::move(thread), {}};
}

SmtpClientThread::~SmtpClientThread() { WaitFor(); }

void SmtpClientThread::WaitFor() const {
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

void SmtpClientThread::SetTimeouts(const SmtpTimeouts& timeouts) {
  g_replyMs = timeouts.replyMs;
  g_dataReplyMs = timeouts.dataReplyMs;
}

unsigned __stdcall SmtpClientThread::Main(void* self) {
  static_cast<SmtpClientThread*>(self)->Execute();
  return 0;
}

void SmtpClientThread::Execute() noexcept {
  try {
    CustomWinSocket socket;
    socket.SetEventStyles(0);
    WinSocketStream stream(socket, timeouts_.replyMs);
    try {
      socket.ConnectTo(hostName_, address_, port_, service_);
    } catch (...) {
      return;  // no connection
    }
    connected_ = true;
    SocketTransport transport(socket, stream);
    outcome_ = RunSmtpConversation(connection_, transport, timeouts_);
  } catch (...) {
    // Nothing leaves the thread; the flags tell what happened.
  }
}

}  // namespace sender
