// Fake mail server services for tests: each is a fake_service.exe process
// with a real named pipe (or, for systems without named pipes, the published
// anonymous pipe pair), optionally its hidden window, and optionally an entry
// in the service control manager. A FakeServiceSet sets them up and takes
// every one of them down again when it goes out of scope, also when the test
// fails; it also removes what a crashed earlier run left behind.
//
// The service names are fixed (prefix + "SMTP" ...), so tests using this
// must not run at the same time: give them the CTest resource lock
// "services".
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/fake_log.h"

namespace fake {

enum class FakeMode {
  Service,         // registered with the service control manager and running
  StoppedService,  // registered but stopped, while a plain process serves its pipe
  Process,         // a plain process serving the pipe, unknown to the manager
  Legacy,          // a plain process with the mutex and registry entry of systems without named pipes
};

struct FakeSetup {
  int index = 0;  // service kind: 0 SMTP, 1 POP3, 2 control, 3 instant messaging, 4 calendaring, 5 web mail
  FakeMode mode = FakeMode::Service;
  bool window = false;  // also the kind's hidden window, in the fake's process
  std::string reply;    // raw bytes answered to 0x1003; empty: the connection is closed
  bool silent = false;  // 0x1003 gets no answer and the connection stays open
};

// The names the real services use, for a prefix such as "Parlinex".
std::string FakePipeName(const std::string& prefix, int index);
std::string FakeServiceName(const std::string& prefix, int index);
std::string FakeWindowClass(int index);
std::string FakeWindowCaption(int index);

class FakeServiceSet {
 public:
  explicit FakeServiceSet(std::string prefix = "Parlinex");
  ~FakeServiceSet();

  FakeServiceSet(const FakeServiceSet&) = delete;
  FakeServiceSet& operator=(const FakeServiceSet&) = delete;

  // Sets up one fake and waits until it serves; false (see Error) when it
  // could not. One fake per service kind.
  bool Add(const FakeSetup& setup);
  // Running services of these kinds, without windows or replies.
  bool AddRunning(std::initializer_list<int> indexes);

  // Stops and deletes one fake now.
  void Remove(int index);

  // What the fake of that kind received so far, in order.
  std::vector<LogRecord> Records(int index) const;
  // Waits until the fake has at least count records.
  bool WaitForRecords(int index, std::size_t count, DWORD timeoutMs = 5000) const;
  std::string LogPath(int index) const;

  const std::string& Error() const { return error_; }

  // Stops and deletes the services of that prefix, and the registry
  // entries of its published pipes, whoever left them.
  static void RemoveLeftovers(const std::string& prefix);

 private:
  struct Entry {
    int index = 0;
    FakeMode mode = FakeMode::Service;
    std::string serviceName;   // set while registered
    HANDLE process = nullptr;  // plain-process fakes
    std::string logPath;
  };

  bool StartProcess(Entry& entry, const std::string& commandLine);
  void TakeDown(Entry& entry);
  const Entry* Find(int index) const;

  std::string prefix_;
  std::string folder_;
  std::vector<Entry> entries_;
  std::string error_;
};

}  // namespace fake
