#include "tests/support/fake_window.h"

#include "tests/support/fake_log.h"

namespace fake {

FakeWindow::FakeWindow(std::string windowClass, std::string caption, std::string logPath)
    : class_(std::move(windowClass)), caption_(std::move(caption)), logPath_(std::move(logPath)) {
  thread_ = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> guard(lock_);
  startedSignal_.wait(guard, [this] { return started_; });
}

FakeWindow::~FakeWindow() {
  if (window_ != nullptr) ::PostMessageA(window_, WM_CLOSE, 0, 0);
  if (thread_.joinable()) thread_.join();
}

std::vector<std::array<std::uint32_t, 3>> FakeWindow::Messages() const {
  std::lock_guard<std::mutex> guard(lock_);
  return messages_;
}

LRESULT CALLBACK FakeWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<FakeWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr && message >= WM_USER && message <= 0x7FFF) {
    const std::uint64_t time = Now();
    const auto w = static_cast<std::uint32_t>(wParam);
    const auto l = static_cast<std::uint32_t>(lParam);
    {
      std::lock_guard<std::mutex> guard(self->lock_);
      self->messages_.push_back({message, w, l});
    }
    AppendLog(self->logPath_, 'W', Words(0, message, w, l), time);
    return 0;
  }
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

void FakeWindow::Run() {
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &FakeWindow::Procedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = class_.c_str();
  // Several windows of one class may live in one process; the first
  // registration serves them all.
  ::RegisterClassA(&windowClass);
  const HWND window = ::CreateWindowExA(0, class_.c_str(), caption_.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                        nullptr, nullptr, instance, this);
  {
    std::lock_guard<std::mutex> guard(lock_);
    window_ = window;
    started_ = true;
  }
  startedSignal_.notify_all();
  if (window == nullptr) return;
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

}  // namespace fake
