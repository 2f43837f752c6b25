#include "core/platform/Files.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace core {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A component that Windows would resolve to the current or the parent folder
// (it strips trailing dots and blanks), or any run of dots.
bool IsDotComponent(const std::string& part) {
  if (part.empty() || part[0] != '.') return false;
  for (char c : part) {
    if (c != '.' && c != ' ') return false;
  }
  return true;
}

bool ReadAttributes(const std::string& fileName, WIN32_FILE_ATTRIBUTE_DATA& data) {
  if (fileName.empty()) return false;
  return ::GetFileAttributesExA(fileName.c_str(), GetFileExInfoStandard, &data) != FALSE;
}

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

bool IsDeletableFolder(const std::string& folder) {
  std::string path = folder;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  if (path.empty()) return false;
  if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) return false;

  std::size_t start = 0;
  std::size_t minimumParts = 1;  // named parts needed beyond the root
  if (path.rfind("\\\\", 0) == 0) {
    start = 2;
    minimumParts = 3;  // server, share, and at least one folder
  } else if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    start = 2;
  }

  std::size_t parts = 0;
  std::size_t pos = start;
  while (pos <= path.size()) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(pos, end - pos);
    if (!part.empty()) {
      if (IsDotComponent(part)) return false;
      ++parts;
    }
    pos = end + 1;
  }
  return parts >= minimumParts;
}

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::string& fileName) {
  if (fileName.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ForceDirectory(const std::string& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  ::CreateDirectoryA(path.c_str(), nullptr);
  if (DirectoryExists(path)) return true;
  CreateDirectoryChain(path);
  return DirectoryExists(path);
}

void CreateDirectoryChain(const std::string& path) {
  try {
    // Walk up to the first existing ancestor, then create downwards.
    std::vector<std::string> missing;
    std::string current = path;
    for (;;) {
      if (!current.empty() && current.back() == '\\') current.pop_back();
      if (current.size() <= 2 || DirectoryExists(current)) break;
      missing.push_back(current);
      const std::size_t slash = current.rfind('\\');
      std::string parent = slash == std::string::npos ? std::string() : current.substr(0, slash + 1);
      if (parent == current) break;
      current = std::move(parent);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      ::CreateDirectoryA(it->c_str(), nullptr);
    }
  } catch (...) {
    // Out of memory: nothing created, which callers see by testing the folder.
  }
}

bool DeleteDirectory(const std::string& folder, const std::string& mask, bool recurse) {
  try {
    if (folder.empty() || !IsDeletableFolder(folder)) return false;
    // The mask names entries of this folder only.
    for (char c : mask) {
      if (IsSeparator(c)) return false;
    }
    const std::string pattern = mask.empty() ? std::string("*.*") : mask;

    std::string root = folder;
    if (root.back() != '\\') root += '\\';

    // A link given as the folder itself: remove the link, keep its target.
    const std::string rootName = root.substr(0, root.size() - 1);
    const DWORD rootAttributes = ::GetFileAttributesA(rootName.c_str());
    if (rootAttributes != INVALID_FILE_ATTRIBUTES && (rootAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return ::RemoveDirectoryA(rootName.c_str()) != FALSE;
    }

    // Depth-first with an explicit stack: a folder is removed after its
    // sub-folders were handled.
    struct Pending {
      std::string folder;
      bool listed;
    };
    std::vector<Pending> stack;
    stack.push_back({root, false});
    bool removed = false;
    while (!stack.empty()) {
      if (stack.back().listed) {
        const std::string& current = stack.back().folder;
        const bool ok = ::RemoveDirectoryA(current.substr(0, current.size() - 1).c_str()) != FALSE;
        if (stack.size() == 1) removed = ok;
        stack.pop_back();
        continue;
      }
      stack.back().listed = true;
      const std::string current = stack.back().folder;

      WIN32_FIND_DATAA entry{};
      UniqueFindHandle search(::FindFirstFileA((current + pattern).c_str(), &entry));
      if (!search.valid()) continue;
      do {
        const std::string name = entry.cFileName;
        if (name.empty() || name == "." || name == "..") continue;
        const std::string full = current + name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          if (!recurse) continue;
          if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            ::RemoveDirectoryA(full.c_str());
          } else {
            stack.push_back({full + '\\', false});
          }
        } else {
          ::DeleteFileA(full.c_str());
        }
      } while (::FindNextFileA(search.get(), &entry));
    }
    return removed;
  } catch (...) {
    return false;
  }
}

FileReadResult ReadFileBytes(const std::string& fileName, std::uint64_t offset, std::size_t maxBytes,
                             std::string& out) {
  out.clear();
  if (fileName.empty()) return FileReadResult::Missing;
  UniqueHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileReadResult::Missing;
    return FileReadResult::Unreadable;
  }
  try {
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) && static_cast<std::uint64_t>(size.QuadPart) > offset) {
      const std::uint64_t rest = static_cast<std::uint64_t>(size.QuadPart) - offset;
      out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(rest, maxBytes)));
    }
    if (offset > 0) {
      LARGE_INTEGER distance{};
      distance.QuadPart = static_cast<LONGLONG>(offset);
      if (!::SetFilePointerEx(file.get(), distance, nullptr, FILE_BEGIN)) return FileReadResult::Unreadable;
    }
    // Read to the end even when the file grew since the size was taken.
    char buffer[65536];
    while (out.size() < maxBytes) {
      const std::size_t want = std::min<std::size_t>(maxBytes - out.size(), sizeof buffer);
      DWORD got = 0;
      if (!::ReadFile(file.get(), buffer, static_cast<DWORD>(want), &got, nullptr)) {
        out.clear();
        return FileReadResult::Unreadable;
      }
      if (got == 0) break;
      out.append(buffer, got);
    }
  } catch (...) {
    out.clear();
    return FileReadResult::Unreadable;
  }
  return FileReadResult::Read;
}

bool ReadFileToString(const std::string& fileName, bool deleteAfter, std::string& out) {
  const bool read = ReadFileBytes(fileName, 0, out.max_size(), out) == FileReadResult::Read;
  if (deleteAfter && !fileName.empty()) ::DeleteFileA(fileName.c_str());
  return read;
}

std::int64_t GetFileSizeByName(const std::string& fileName) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!ReadAttributes(fileName, data)) return 0;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::uint32_t GetFileStamp(const std::string& fileName) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!ReadAttributes(fileName, data)) return 0;
  FILETIME local{};
  WORD date = 0;
  WORD time = 0;
  if (!::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return 0;
  if (!::FileTimeToDosDateTime(&local, &date, &time)) return 0;
  return (static_cast<std::uint32_t>(date) << 16) | time;
}

FileVersion GetFileTimeSize(const std::string& fileName) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!ReadAttributes(fileName, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  FileVersion version;
  version.writeTime =
      static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  version.size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return version;
}

bool SetFileDate(const std::string& fileName, std::uint32_t dosDateTime) {
  if (fileName.empty()) return false;
  UniqueHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  FILETIME local{};
  FILETIME utc{};
  if (!::DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16), static_cast<WORD>(dosDateTime & 0xFFFF), &local)) {
    return false;
  }
  if (!::LocalFileTimeToFileTime(&local, &utc)) return false;
  // Null for creation and last access: those stay as they are.
  return ::SetFileTime(file.get(), nullptr, nullptr, &utc) != FALSE;
}

namespace {

// Writes all bytes in chunks that fit one WriteFile call.
bool WriteAll(HANDLE file, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, bytes, chunk, &written, nullptr) || written != chunk) return false;
    bytes += chunk;
    size -= chunk;
  }
  return true;
}

}  // namespace

bool WriteFileAtomic(const std::string& fileName, const void* data, std::size_t size) {
  if (fileName.empty() || (data == nullptr && size != 0)) return false;
  try {
    // The temporary file lives beside the target so the final move is a
    // rename within one volume.
    std::string tempName;
    UniqueHandle file;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
      char suffix[40];
      std::snprintf(suffix, sizeof suffix, ".~%lx-%x", ::GetCurrentProcessId(), g_tempCounter.fetch_add(1));
      tempName = fileName + suffix;
      file.reset(
          ::CreateFileA(tempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file && ::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
      }
    }
    if (!file) return false;

    bool ok = WriteAll(file.get(), data, size);
    ok = ok && ::FlushFileBuffers(file.get());
    file.reset();
    if (!ok) {
      ::DeleteFileA(tempName.c_str());
      return false;
    }
    // A reader may hold the file for a moment: try the replace a few times.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (::MoveFileExA(tempName.c_str(), fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
      error = ::GetLastError();
      if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
      ::Sleep(50);
    }
    // A running service may keep the file open without delete sharing, which
    // forbids the replace but allows writing: then rewrite it in place, as
    // the services expect, rather than fail the save.
    bool rewritten = false;
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      const DWORD attributes = ::GetFileAttributesA(fileName.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        UniqueHandle target(::CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (target) {
          rewritten = WriteAll(target.get(), data, size);
          rewritten = rewritten && ::SetEndOfFile(target.get()) && ::FlushFileBuffers(target.get());
        }
      }
    }
    ::DeleteFileA(tempName.c_str());
    return rewritten;
  } catch (...) {
    return false;
  }
}

bool DeleteFileInside(const std::string& fileName, const std::string& folder) {
  if (fileName.empty() || folder.empty()) return false;
  const auto fullPath = [](const std::string& path) {
    char buffer[MAX_PATH * 2] = {};
    const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    std::string full = length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
    for (char& c : full)
      c = c == '/' ? '\\' : (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return full;
  };
  std::string inside = fullPath(folder);
  if (inside.empty()) return false;
  if (inside.back() != '\\') inside += '\\';
  const std::string full = fullPath(fileName);
  if (full.size() <= inside.size() || full.compare(0, inside.size(), inside) != 0) return false;
  return ::DeleteFileA(fileName.c_str()) != FALSE;
}

}  // namespace core
