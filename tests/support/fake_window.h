// A service's hidden main window, stood up on a helper thread of the calling
// process: FindWindow finds it by class and caption, and it records (and
// optionally logs) every message from WM_USER up to 0x7FFF it receives.
#pragma once

#include <windows.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fake {

class FakeWindow {
 public:
  // Waits until the window exists (or its creation failed).
  FakeWindow(std::string windowClass, std::string caption, std::string logPath = {});
  ~FakeWindow();

  FakeWindow(const FakeWindow&) = delete;
  FakeWindow& operator=(const FakeWindow&) = delete;

  HWND Handle() const { return window_; }
  bool Ready() const { return window_ != nullptr; }

  // {message, wParam, lParam} in the order received.
  std::vector<std::array<std::uint32_t, 3>> Messages() const;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Run();

  std::string class_;
  std::string caption_;
  std::string logPath_;
  HWND window_ = nullptr;
  bool started_ = false;
  mutable std::mutex lock_;
  std::condition_variable startedSignal_;
  std::vector<std::array<std::uint32_t, 3>> messages_;
  std::thread thread_;
};

}  // namespace fake
