#include "core/mime/MessageFiles.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "core/mime/MessageBody.h"
#include "core/mime/MessageHeaders.h"
#include "core/mime/TransferCodecs.h"
#include "core/util/Text.h"

namespace core {

namespace {

std::atomic<unsigned> g_targetCounter{0};

std::string FullPath(const std::string& fileName) {
  char buffer[MAX_PATH * 2];
  const DWORD length = ::GetFullPathNameA(fileName.c_str(), sizeof buffer, buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) return fileName;
  return std::string(buffer, length);
}

}  // namespace

bool FileSource::Open(const std::string& fileName) {
  failed_ = false;
  if (fileName.empty()) return false;
  file_.reset(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return file_.valid();
}

bool FileSource::Open(const std::wstring& fileName) {
  failed_ = false;
  if (fileName.empty() || fileName.find(L'\0') != std::wstring::npos) return false;
  file_.reset(::CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return file_.valid();
}

std::size_t FileSource::Read(char* buffer, std::size_t size) {
  if (!file_ || failed_) return 0;
  const DWORD wanted = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(file_.get(), buffer, wanted, &got, nullptr)) {
    failed_ = true;
    return 0;
  }
  return got;
}

std::uint64_t FileSource::Size() const {
  LARGE_INTEGER size{};
  if (!file_ || !::GetFileSizeEx(file_.get(), &size) || size.QuadPart < 0) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool FileSink::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD wanted = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file_, bytes.data(), wanted, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool Base64EncodeFile(const std::string& fileName, std::string& text) {
  text.clear();
  FileSource source;
  if (!source.Open(fileName)) return false;
  return Base64EncodeStream(source, nullptr, &text, source.Size());
}

bool Base64EncodeFile(const std::string& fileName, ByteSink& out) {
  FileSource source;
  if (!source.Open(fileName)) return false;
  return Base64EncodeStream(source, &out, nullptr, 0);
}

std::string ReadMessageHeader(const std::string& fileName, std::string_view name) {
  return CutTo(ReadHeaderValue(fileName, name), ShortTextLength);
}

std::string ReadHeaderValue(const std::string& fileName, std::string_view name) {
  FileSource source;
  if (!source.Open(fileName)) return {};
  try {
    LineReader reader(source);
    return ReadHeaderValue(reader, name);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::string ReplaceMessageHeader(const std::string& fileName, std::string_view name, std::string_view value,
                                 const std::string& targetName, bool addIfMissing) {
  FileSource source;
  if (!source.Open(fileName)) return {};
  const std::string target = targetName.empty() ? fileName + ".tmp" : targetName;
  if (SameText(FullPath(fileName), FullPath(target))) return {};

  // Written beside the target under a name of its own, then moved over it.
  std::string tempName;
  UniqueHandle file;
  for (int attempt = 0; attempt < 16 && !file; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".~%lx-%x", static_cast<unsigned long>(::GetCurrentProcessId()),
                  g_targetCounter.fetch_add(1));
    tempName = target + suffix;
    file.reset(::CreateFileA(tempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file && ::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  if (!file) return {};
  bool ok = false;
  try {
    LineReader reader(source);
    FileSink sink(file.get());
    ok = ReplaceHeaderLines(reader, sink, name, value, addIfMissing);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  file.reset();
  if (ok) ok = ::MoveFileExA(tempName.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    ::DeleteFileA(tempName.c_str());
    return {};
  }
  return target;
}

bool ReadMessageBody(const std::string& fileName, std::string& out, std::size_t maxLength, std::string_view wantedType,
                     std::int32_t& lineIndex, MessageForm form) {
  FileSource source;
  if (!source.Open(fileName)) return false;
  try {
    LineReader reader(source);
    return ReadMessageBody(reader, out, maxLength, wantedType, lineIndex, form);
  } catch (const std::bad_alloc&) {
    return false;  // out keeps what it held
  }
}

}  // namespace core
