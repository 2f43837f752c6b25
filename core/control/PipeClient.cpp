#include "core/control/PipeClient.h"

#include <atomic>
#include <mutex>

#include "core/platform/System.h"
#include "core/util/Numbers.h"

namespace core {

namespace {

constexpr std::uint32_t DefaultBusyWait = 10000;
constexpr std::uint32_t DefaultIoTimeout = 30000;

std::atomic<std::uint32_t> g_busyWait{DefaultBusyWait};
std::atomic<std::uint32_t> g_ioTimeout{DefaultIoTimeout};
std::atomic<PipeOpenFunction> g_openFunction{nullptr};

// Held only while waiting for a busy pipe, so such waits run one at a time.
std::mutex g_busyLock;

HANDLE OpenPipeFile(const std::string& path) {
  PipeOpenFunction open = g_openFunction.load();
  if (open == nullptr) open = &::CreateFileA;
  // Identification level only: whoever owns the pipe's name learns who we
  // are but cannot act as us.
  return open(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
}

// One read or write on the overlapped named pipe, bounded in time: a
// service that never answers must not hold its caller for ever. On time-out
// the operation is cancelled and waited for, so nothing lands in the buffer
// afterwards; what it transferred anyway still counts.
bool TimedTransfer(HANDLE handle, bool write, void* buffer, DWORD count, DWORD& done) {
  done = 0;
  UniqueHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!event) return false;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  const BOOL started = write ? ::WriteFile(handle, buffer, count, nullptr, &overlapped)
                             : ::ReadFile(handle, buffer, count, nullptr, &overlapped);
  if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
  if (::WaitForSingleObject(event.get(), g_ioTimeout.load()) != WAIT_OBJECT_0) {
    ::CancelIo(handle);
    ::GetOverlappedResult(handle, &overlapped, &done, TRUE);
    return false;
  }
  return ::GetOverlappedResult(handle, &overlapped, &done, FALSE) != FALSE;
}

HANDLE HandleFromValue(std::uint32_t value) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)); }

bool IsPipeHandle(const UniqueHandle& handle) {
  return handle.valid() && ::GetFileType(handle.get()) == FILE_TYPE_PIPE;
}

}  // namespace

std::uint32_t SetPipeBusyWait(std::uint32_t milliseconds) { return g_busyWait.exchange(milliseconds); }

std::uint32_t SetPipeTimeout(std::uint32_t milliseconds) { return g_ioTimeout.exchange(milliseconds); }

void SetPipeOpenFunction(PipeOpenFunction function) { g_openFunction.store(function); }

std::string PublishedPipeKey(std::string_view name) {
  // No leading "\": the registry refuses it.
  return "System\\CurrentControlSet\\Services\\Pipes\\" + std::string(name);
}

Pipe::Pipe() : isNT_(IsWindowsNT()) {}

Pipe::~Pipe() = default;

bool Pipe::IsOpen() const { return isNT_ ? pipe_.valid() : (readHandle_.valid() && writeHandle_.valid()); }

HANDLE Pipe::ReadEnd() const { return isNT_ ? pipe_.get() : readHandle_.get(); }

HANDLE Pipe::WriteEnd() const { return isNT_ ? pipe_.get() : writeHandle_.get(); }

bool Pipe::Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
  bytesRead = 0;
  if (count == 0 || buffer == nullptr) return false;
  const HANDLE handle = ReadEnd();
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const bool ok = isNT_ ? TimedTransfer(handle, false, buffer, count, got)
                        : ::ReadFile(handle, buffer, count, &got, nullptr) != FALSE;
  bytesRead = got;
  return ok;
}

bool Pipe::Write(const void* buffer, std::uint32_t count, std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  if (count == 0) return true;
  const HANDLE handle = WriteEnd();
  if (buffer == nullptr || handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  bool allSucceeded = true;
  while (bytesWritten < count) {
    DWORD written = 0;
    void* from = const_cast<std::uint8_t*>(bytes + bytesWritten);
    const bool ok = isNT_ ? TimedTransfer(handle, true, from, count - bytesWritten, written)
                          : ::WriteFile(handle, from, count - bytesWritten, &written, nullptr) != FALSE;
    if (!ok) allSucceeded = false;
    bytesWritten += written;
    if (written == 0) break;
  }
  // A write that stopped short did not deliver the request.
  return allSucceeded && bytesWritten == count;
}

bool Pipe::ReadString(std::string& text, std::uint32_t count) {
  text.assign(count, '\0');
  std::uint32_t got = 0;
  const bool ok = Read(text.data(), count, got);
  text.resize(got);
  return ok;
}

bool Pipe::WriteString(std::string_view text) {
  if (text.empty()) return true;
  std::uint32_t written = 0;
  return Write(text.data(), static_cast<std::uint32_t>(text.size()), written);
}

PipeClient::PipeClient(std::string_view name) {
  const std::string pipeName(name);
  if (isNT_)
    OpenNamedPipe(pipeName);
  else
    OpenPublishedPipe(pipeName);
}

void PipeClient::OpenNamedPipe(const std::string& name) {
  const std::string path = "\\\\.\\pipe\\" + name;
  HANDLE handle = OpenPipeFile(path);
  if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PIPE_BUSY) {
    std::lock_guard<std::mutex> lock(g_busyLock);
    if (::WaitNamedPipeA(path.c_str(), g_busyWait.load())) handle = OpenPipeFile(path);
  }
  pipe_.reset(handle);
}

void PipeClient::OpenPublishedPipe(const std::string& name) {
  UniqueHandle mutex(::OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
  if (!mutex) return;

  const std::string key = PublishedPipeKey(name);
  const std::uint32_t processId = HexToInt(ReadMachineRegistryText(key, "PID"));
  const std::uint32_t readValue = HexToInt(ReadMachineRegistryText(key, "HRP"));
  const std::uint32_t writeValue = HexToInt(ReadMachineRegistryText(key, "HWP"));
  if (processId == 0 || readValue == 0 || writeValue == 0) return;

  UniqueHandle process(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId));
  if (!process) return;
  HANDLE readHandle = nullptr;
  HANDLE writeHandle = nullptr;
  if (::DuplicateHandle(process.get(), HandleFromValue(readValue), ::GetCurrentProcess(), &readHandle, 0, FALSE,
                        DUPLICATE_SAME_ACCESS))
    readHandle_.reset(readHandle);
  if (::DuplicateHandle(process.get(), HandleFromValue(writeValue), ::GetCurrentProcess(), &writeHandle, 0, FALSE,
                        DUPLICATE_SAME_ACCESS))
    writeHandle_.reset(writeHandle);

  // A published process id can outlive the service and name another
  // process by now, whose handles with these values are anything: only
  // two pipe ends are used.
  if (!IsPipeHandle(readHandle_) || !IsPipeHandle(writeHandle_)) {
    readHandle_.reset();
    writeHandle_.reset();
  }
}

}  // namespace core
