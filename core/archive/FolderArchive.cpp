#include "core/archive/FolderArchive.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string_view>
#include <vector>

#include "core/archive/ArchiveFormat.h"
#include "core/archive/ArchiveStreams.h"
#include "core/platform/Handles.h"
#include "core/platform/TextConversion.h"
#include "core/util/PathText.h"

namespace core {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
// Each level adds at least two bytes to an entry name of at most 255.
constexpr int kMaxWalkDepth = 128;

std::atomic<unsigned> g_tempCounter{0};

// The full path in the "\\?\" form: the file calls take it as it stands (no
// second reading of dots, blanks or device names) and past 259 characters,
// so that deep folders are walked and a temporary name beside a path near
// the limit fits. Empty when it cannot be formed.
std::wstring LongPath(const std::wstring& path) {
  if (path.empty()) return {};
  DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return {};
  std::wstring full(length, L'\0');
  length = ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) return {};
  full.resize(length);
  if (full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// Drops trailing "\" but the one of a drive root.
std::wstring WithoutTrailingSlash(std::wstring path) {
  while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':')
    path.pop_back();
  return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

struct FileId {
  bool valid = false;
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const FileId& other) const {
    return valid && other.valid && volume == other.volume && high == other.high && low == other.low;
  }
};

FileId IdOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return {};
  return {true, info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool WriteAll(HANDLE file, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, kArchiveChunkSize));
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool SeekTo(HANDLE file, std::uint64_t position) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

bool SizeOf(HANDLE file, std::uint64_t& size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(file, &value)) return false;
  size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

ReadCallback ReaderOf(HANDLE file) {
  return [file](std::uint8_t* data, std::size_t size) -> std::int64_t {
    DWORD got = 0;
    if (!::ReadFile(file, data, static_cast<DWORD>(size), &got, nullptr)) return -1;
    return got;
  };
}

// A new file "~ilds<process>-<count>.tmp" in folder (ending in "\").
UniqueHandle CreateTempIn(const std::wstring& folder, DWORD access, DWORD share, std::wstring& name) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    wchar_t suffix[48];
    std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L"~ilds%lx-%x.tmp",
                  static_cast<unsigned long>(::GetCurrentProcessId()), g_tempCounter.fetch_add(1));
    name = folder + suffix;
    UniqueHandle file(::CreateFileW(name.c_str(), access, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  name.clear();
  return UniqueHandle();
}

// Deletes a temporary file on every way out unless it was kept. Declared
// before the handle of the file, so the handle is closed first.
struct TempFileGuard {
  std::wstring path;
  ~TempFileGuard() {
    if (!path.empty()) ::DeleteFileW(path.c_str());
  }
};

class FileOutput final : public ArchiveOutput {
 public:
  FileOutput(HANDLE file, std::uint64_t size) noexcept : file_(file), size_(size) {}
  bool Append(const std::uint8_t* data, std::size_t size) override {
    if (!WriteAll(file_, data, size)) return false;
    size_ += size;
    return true;
  }
  bool Patch(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
    return SeekTo(file_, offset) && WriteAll(file_, data, size) && SeekTo(file_, size_);
  }
  bool CutBack(std::uint64_t size) override {
    if (!SeekTo(file_, size) || !::SetEndOfFile(file_)) return false;
    size_ = size;
    return true;
  }
  std::uint64_t Size() const override { return size_; }

 private:
  HANDLE file_;
  std::uint64_t size_;
};

// Reads at explicit offsets through one buffer, so that the many small
// reads of entry heads cost few calls.
class FileInput final : public ArchiveInput {
 public:
  FileInput(HANDLE file, std::uint64_t size) : file_(file), size_(size), buffer_(kArchiveChunkSize) {}
  std::int64_t Read(std::uint8_t* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size && position_ < size_) {
      if (position_ >= bufferStart_ && position_ < bufferStart_ + bufferLength_) {
        const std::size_t at = static_cast<std::size_t>(position_ - bufferStart_);
        const std::size_t count = std::min(size - done, bufferLength_ - at);
        std::copy_n(buffer_.data() + at, count, data + done);
        done += count;
        position_ += count;
      } else if (size - done >= buffer_.size()) {
        const std::int64_t got = ReadAt(position_, data + done, size - done);
        if (got <= 0) return got < 0 ? -1 : static_cast<std::int64_t>(done);
        done += static_cast<std::size_t>(got);
        position_ += static_cast<std::uint64_t>(got);
      } else {
        const std::int64_t got = ReadAt(position_, buffer_.data(), buffer_.size());
        if (got <= 0) return got < 0 ? -1 : static_cast<std::int64_t>(done);
        bufferStart_ = position_;
        bufferLength_ = static_cast<std::size_t>(got);
      }
    }
    return static_cast<std::int64_t>(done);
  }
  bool Seek(std::uint64_t position) override {
    position_ = position;
    return true;
  }
  std::uint64_t Position() const override { return position_; }
  std::uint64_t Size() const override { return size_; }

 private:
  std::int64_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(file_, data, want, &got, &at)) return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
  }

  HANDLE file_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t bufferStart_ = 0;
  std::size_t bufferLength_ = 0;
};

// Creates every missing folder of a "\\?\" path ending in "\"; true when it
// is a folder afterwards.
bool MakeFolders(const std::wstring& folder) {
  for (std::size_t at = folder.find(L'\\', 4); at != std::wstring::npos; at = folder.find(L'\\', at + 1)) {
    ::CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  }
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(AnsiToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

struct PackState {
  ArchiveOutput* output = nullptr;
  EntryWriter writer;
  std::string prefix;
  bool compress = false;
  std::string skipList;
  bool recurse = false;
  std::wstring archivePath;  // both in the "\\?\" form
  std::wstring tempPath;
  FileId archiveId;
  FileId tempId;
  bool ok = true;
  bool stopped = false;  // the archive could not be written
};

// Writes one file as an entry; a file that cannot be packed whole leaves no
// trace in the archive and makes the answer false.
void PackFolderEntry(const std::wstring& file, const std::string& entryName, PackState& state) {
  if (SamePath(file, state.archivePath) || SamePath(file, state.tempPath)) return;
  if (entryName.empty() || entryName.size() > kMaxEntryNameLength) {
    state.ok = false;
    return;
  }
  UniqueHandle source(
      ::CreateFileW(file.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  std::uint64_t size = 0;
  if (!source || !SizeOf(source.get(), size)) {
    state.ok = false;
    return;
  }
  const FileId id = IdOf(source.get());
  if (id == state.archiveId || id == state.tempId) return;
  switch (state.writer.Write(*state.output, entryName, state.compress, size, ReaderOf(source.get()))) {
    case EntryWrite::Written:
      break;
    case EntryWrite::LeftOut:
      state.ok = false;
      break;
    case EntryWrite::OutputFailed:
      state.ok = false;
      state.stopped = true;
      break;
  }
}

// Packs the files of base + relative in listing order and, with recurse,
// its subfolders where they are listed. Links are neither packed nor
// followed.
void PackFolderTree(const std::wstring& base, const std::wstring& relative, const std::string& relativeName,
                    PackState& state, int depth) {
  WIN32_FIND_DATAW entry{};
  UniqueFindHandle search(::FindFirstFileW((base + relative + L"*").c_str(), &entry));
  if (!search) {
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) state.ok = false;
    return;
  }
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && !state.recurse) continue;
    std::string narrow;
    if (!WideToAnsiExact(name, narrow)) {
      state.ok = false;
      continue;
    }
    if (isFolder) {
      if (depth >= kMaxWalkDepth) {
        state.ok = false;
        continue;
      }
      PackFolderTree(base, relative + name + L"\\", relativeName + narrow + "\\", state, depth + 1);
    } else if (!ListHoldsName(state.skipList, narrow)) {
      PackFolderEntry(base + relative + name, state.prefix + relativeName + narrow, state);
    }
    if (state.stopped) return;
  } while (::FindNextFileW(search.get(), &entry));
  if (::GetLastError() != ERROR_NO_MORE_FILES) state.ok = false;
}

// Checks an existing archive before entries are appended to it: magic,
// version 2 or later, and entry heads that end exactly at its end (an end
// mark before it would hide what is appended).
bool ReadAppendTarget(HANDLE file, std::uint64_t size, ArchiveHeader& header) {
  FileInput input(file, size);
  if (ReadArchiveHeader(input, 0, header) != ArchiveRead::Ok || !header.hasMagic || header.version < 2) return false;
  for (;;) {
    EntryHead head;
    const ArchiveRead status = ReadEntryHead(input, header.version, head);
    if (status == ArchiveRead::End) return head.dataOffset == 0;
    if (status != ArchiveRead::Ok) return false;
    input.Seek(head.dataOffset + head.length);
  }
}

// Restores into a folder: folders only for files that are written, none of
// them a link; each file written beside its target under a temporary name
// and moved over it only when complete.
class FileSink final : public RestoreSink {
 public:
  FileSink(std::string target, std::wstring targetLong, bool overwrite, std::string keepList,
           std::vector<std::string>* written)
      : target_(std::move(target)),
        targetLong_(std::move(targetLong)),
        overwrite_(overwrite),
        keepList_(std::move(keepList)),
        written_(written) {}
  ~FileSink() override { Abort(); }

  std::size_t BaseLength() const override { return target_.size(); }

  bool Wants(const std::string& path) override {
    return overwrite_ || ShouldRestoreFile(target_ + path, path, keepList_);
  }

  bool Begin(const std::string& path) override {
    path_ = path;
    const std::wstring relative = AnsiToWide(path);
    std::wstring folder = targetLong_;
    std::size_t begin = 0;
    for (std::size_t end = relative.find(L'\\'); end != std::wstring::npos; end = relative.find(L'\\', begin)) {
      folder.append(relative, begin, end - begin);
      DWORD attributes = ::GetFileAttributesW(folder.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        attributes = ::GetFileAttributesW(folder.c_str());
      }
      // A link on the way down could lead anywhere.
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
      }
      folder += L'\\';
      begin = end + 1;
    }
    finalPath_ = folder + relative.substr(begin);
    file_ = CreateTempIn(folder, GENERIC_WRITE, 0, tempPath_);
    return file_.valid();
  }

  bool Write(const std::uint8_t* data, std::size_t size) override { return WriteAll(file_.get(), data, size); }

  bool Commit() override {
    file_.reset();
    const bool moved = ::MoveFileExW(tempPath_.c_str(), finalPath_.c_str(), kReplace) != FALSE;
    if (!moved) ::DeleteFileW(tempPath_.c_str());
    tempPath_.clear();
    if (moved && written_ != nullptr) written_->push_back(path_);
    return moved;
  }

  void Abort() override {
    file_.reset();
    if (!tempPath_.empty()) ::DeleteFileW(tempPath_.c_str());
    tempPath_.clear();
  }

 private:
  std::string target_;
  std::wstring targetLong_;
  bool overwrite_;
  std::string keepList_;
  std::vector<std::string>* written_;
  std::string path_;
  std::wstring finalPath_;
  std::wstring tempPath_;
  UniqueHandle file_;
};

// What one packing left: every file in the archive, an archive written
// without some of them, or no archive written (an appended one unchanged or
// cut back to where it was).
enum class PackOutcome { Complete, Partial, Failed };

PackOutcome PackInto(const std::string& archive, const std::string& source, const PackOptions& options) {
  const bool append = options.append, compress = options.compress, recurse = options.recurse;
  const std::string& prefix = options.prefix;
  const std::string& skipList = options.skipList;
  constexpr PackOutcome Failed = PackOutcome::Failed;
  try {
    if (archive.empty() || source.empty()) return Failed;
    // The source first: a missing one creates or replaces nothing.
    const std::wstring sourcePath = WithoutTrailingSlash(LongPath(AnsiToWide(source)));
    const DWORD sourceAttributes =
        sourcePath.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(sourcePath.c_str());
    if (sourceAttributes == INVALID_FILE_ATTRIBUTES) return Failed;
    const bool sourceIsFolder = (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    PackState state;
    state.prefix = prefix;
    state.skipList = skipList;
    state.recurse = recurse;
    state.archivePath = LongPath(AnsiToWide(archive));
    const std::size_t slash = state.archivePath.rfind(L'\\');
    if (slash == std::wstring::npos || slash + 1 == state.archivePath.size()) return Failed;

    // No write sharing: a second packer fails instead of interleaving.
    TempFileGuard tempGuard;
    UniqueHandle file;
    std::uint64_t size = 0;
    if (append) {
      file.reset(::CreateFileW(state.archivePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file || !SizeOf(file.get(), size)) return Failed;
      state.archiveId = IdOf(file.get());
      state.compress = compress;
      if (size > 0) {
        ArchiveHeader header;
        if (!ReadAppendTarget(file.get(), size, header)) return Failed;
        state.compress = header.compressed;
      }
      if (!SeekTo(file.get(), size)) return Failed;
    } else {
      file = CreateTempIn(state.archivePath.substr(0, slash + 1), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                          state.tempPath);
      if (!file) return Failed;
      tempGuard.path = state.tempPath;
      state.tempId = IdOf(file.get());
      state.compress = compress;
      UniqueHandle existing(::CreateFileW(state.archivePath.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
      if (existing) state.archiveId = IdOf(existing.get());
    }

    FileOutput output(file.get(), size);
    state.output = &output;
    if (size == 0) {
      const auto header = MakeArchiveHeader(state.compress);
      if (!output.Append(header.data(), header.size())) {
        output.CutBack(0);
        return Failed;
      }
    }

    if (sourceIsFolder) {
      PackFolderTree(sourcePath + L"\\", L"", "", state, 0);
    } else {
      std::string name;
      if (WideToAnsiExact(sourcePath.substr(sourcePath.rfind(L'\\') + 1), name)) {
        PackFolderEntry(sourcePath, prefix + name, state);
      } else {
        state.ok = false;
      }
    }

    const bool flushed = !state.stopped && ::FlushFileBuffers(file.get());
    file.reset();
    if (!append) {
      if (!flushed || !::MoveFileExW(state.tempPath.c_str(), state.archivePath.c_str(), kReplace)) return Failed;
      tempGuard.path.clear();
    }
    if (!flushed) return Failed;
    return state.ok ? PackOutcome::Complete : PackOutcome::Partial;
  } catch (...) {
    return Failed;
  }
}

}  // namespace

bool PackFolder(const std::string& archive, const std::string& source, const PackOptions& options) {
  return PackInto(archive, source, options) == PackOutcome::Complete;
}

bool UnpackFolder(const std::string& archive, const std::string& target, bool overwrite, const std::string& keepList,
                  std::uint64_t startOffset, std::vector<std::string>* written) {
  try {
    if (archive.empty() || target.empty()) return false;
    const std::string targetText = NormalizePath(target, true, true);
    std::wstring targetLong = LongPath(AnsiToWide(targetText));
    if (targetLong.empty()) return false;
    if (targetLong.back() != L'\\') targetLong += L'\\';
    // Not shared for writing: an archive still being written is not read.
    UniqueHandle file(::CreateFileW(LongPath(AnsiToWide(archive)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::uint64_t size = 0;
    if (!file || !SizeOf(file.get(), size) || startOffset > size || !MakeFolders(targetLong)) return false;
    FileInput input(file.get(), size);
    FileSink sink(targetText, targetLong, overwrite, keepList, written);
    return RestoreEntries(input, startOffset, sink);
  } catch (...) {
    return false;
  }
}

bool ListPackage(const std::string& package, std::string& list) {
  list.clear();
  try {
    if (package.empty()) return false;
    UniqueHandle file(::CreateFileW(LongPath(AnsiToWide(package)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::uint64_t size = 0;
    if (!file || !SizeOf(file.get(), size)) return false;
    FileInput input(file.get(), size);
    list = ListPackage(input);
    return true;
  } catch (...) {
    list.clear();
    return false;
  }
}

bool ShouldRestoreFile(const std::string& targetFile, const std::string& entryName, const std::string& keepList) {
  if (::GetFileAttributesW(AnsiToWide(targetFile).c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
  }
  return !keepList.empty() && !ListHoldsName(keepList, entryName);
}

bool BackupConfigFolder(const std::string& archive, const std::string& configFolder, const std::string& rootFolder) {
  // A file that cannot be packed makes the answer false, but the archive
  // still gets everything else, the webmail part included.
  const PackOutcome config = PackInto(archive, configFolder, {});
  if (config == PackOutcome::Failed) return false;
  const bool complete = config == PackOutcome::Complete;
  if (rootFolder.empty()) return complete;
  const std::string webmail = NormalizePath(rootFolder, true, true) + "webmail\\config\\";
  if (!IsFolder(webmail)) return complete;
  return PackFolder(archive, webmail, {.append = true, .prefix = "..webmail\\config\\"}) && complete;
}

bool RestoreConfigFolder(const std::string& archive, const std::string& configFolder,
                         std::vector<std::string>* written) {
  return UnpackFolder(archive, configFolder, true, "", 0, written);
}

}  // namespace core
