// Client end of a running service's control pipe. On Windows NT this is the
// service's named pipe; on other systems the service publishes the two ends
// of an anonymous pipe pair (its process id and handle values) in the
// registry, guarded by a mutex of the pipe's name.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/platform/Files.h"

namespace core {

class Pipe {
 public:
  Pipe();
  virtual ~Pipe();

  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  // One read of at most count bytes; count 0 answers false at once. On a
  // named pipe it fails after the pipe time-out (SetPipeTimeout).
  bool Read(void* buffer, std::uint32_t count, std::uint32_t& bytesRead);
  // Writes until every byte is written or a call writes nothing; true only
  // when every call succeeded.
  bool Write(const void* buffer, std::uint32_t count, std::uint32_t& bytesWritten);
  // Reads up to count bytes into text, cut to what came.
  bool ReadString(std::string& text, std::uint32_t count);
  // Writes the whole text; an empty text answers true.
  bool WriteString(std::string_view text);

  bool IsOpen() const;

 protected:
  bool isNT_ = true;
  UniqueHandle pipe_;        // the named pipe (NT)
  UniqueHandle readHandle_;  // duplicated ends of the anonymous pipes (other systems)
  UniqueHandle writeHandle_;

 private:
  HANDLE ReadEnd() const;
  HANDLE WriteEnd() const;
};

class PipeClient : public Pipe {
 public:
  // Opens the client end of the pipe called name. A failed open leaves the
  // object without handles: every read and write then fails.
  explicit PipeClient(std::string_view name);

 private:
  void OpenNamedPipe(const std::string& name);
  void OpenPublishedPipe(const std::string& name);
};

// How long a busy pipe is waited for, 10,000 ms unless a test shortens it
// (0 would mean the server's default wait); answers the previous value.
std::uint32_t SetPipeBusyWait(std::uint32_t milliseconds);

// How long one read or write on a service's named pipe may take, 30,000 ms
// unless a test shortens it; answers the previous value. A read that runs
// out fails, and the caller closes the pipe.
std::uint32_t SetPipeTimeout(std::uint32_t milliseconds);

// Test seam for opening the named pipe, so the flags can be checked; nullptr
// restores CreateFileA.
using PipeOpenFunction = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
void SetPipeOpenFunction(PipeOpenFunction function);

// Registry key (under HKEY_LOCAL_MACHINE) where a service on other systems
// publishes its pipe: "PID", "HRP" and "HWP" as hexadecimal texts.
std::string PublishedPipeKey(std::string_view name);

}  // namespace core
