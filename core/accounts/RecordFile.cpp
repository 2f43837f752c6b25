#include "core/accounts/RecordFile.h"

#include <algorithm>
#include <cstring>

#include "core/util/RecordScrambling.h"

namespace core {
namespace {

// About 256 KB a read: a whole file of 100,000 accounts in about 1,100 calls.
constexpr std::size_t BlockBytes = 256 * 1024;
constexpr DWORD AllSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::uint64_t SizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool Seek(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != FALSE;
}

bool ReadExactly(HANDLE file, void* buffer, std::size_t bytes) {
  auto* at = static_cast<std::uint8_t*>(buffer);
  while (bytes > 0) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes, 1u << 30));
    if (!::ReadFile(file, at, want, &got, nullptr) || got == 0) return false;
    at += got;
    bytes -= got;
  }
  return true;
}

bool WriteExactly(HANDLE file, const void* buffer, std::size_t bytes) {
  const auto* at = static_cast<const std::uint8_t*>(buffer);
  while (bytes > 0) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes, 1u << 30));
    if (!::WriteFile(file, at, want, &put, nullptr) || put == 0) return false;
    at += put;
    bytes -= put;
  }
  return true;
}

std::uint32_t WholeRecords(std::uint64_t bytes, std::size_t size) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes / size, 0x7FFFFFFFu));
}

}  // namespace

void ScrambleRecord(std::uint8_t* record, std::size_t size) {
  ScrambleBuffer(record, static_cast<std::ptrdiff_t>(size), 0);
}

bool RecordFile::OpenRead() {
  file_.reset(::CreateFileA(path_.c_str(), GENERIC_READ, AllSharing, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  count_ = file_ ? WholeRecords(SizeOf(file_.get()), size_) : 0;
  return file_.valid();
}

bool RecordFile::ReadAt(std::uint32_t index, std::uint8_t* record) {
  if (!file_ || index >= count_) return false;
  std::vector<std::uint8_t> bytes(size_);
  if (!Seek(file_.get(), static_cast<std::uint64_t>(index) * size_) || !ReadExactly(file_.get(), bytes.data(), size_))
    return false;
  ScrambleRecord(bytes.data(), size_);
  std::memcpy(record, bytes.data(), size_);
  return true;
}

bool RecordFile::ForEach(std::uint32_t first, const Visit& visit) {
  if (!file_) return false;
  const std::size_t perBlock = std::max<std::size_t>(1, BlockBytes / size_);
  std::vector<std::uint8_t> block(perBlock * size_);
  if (first < count_ && !Seek(file_.get(), static_cast<std::uint64_t>(first) * size_)) return false;
  for (std::uint32_t index = first; index < count_;) {
    const std::size_t records = std::min<std::size_t>(perBlock, count_ - index);
    if (!ReadExactly(file_.get(), block.data(), records * size_)) return false;
    for (std::size_t i = 0; i < records; ++i, ++index) {
      if (visit(index, block.data() + i * size_)) return true;
    }
  }
  return true;
}

std::uint32_t RecordFile::ReadBlock(std::uint32_t first, std::uint32_t max, std::vector<std::uint8_t>& out) {
  if (!file_ || first >= count_) return 0;
  const std::uint32_t records = std::min(max, count_ - first);
  out.resize(static_cast<std::size_t>(records) * size_);
  if (!Seek(file_.get(), static_cast<std::uint64_t>(first) * size_) ||
      !ReadExactly(file_.get(), out.data(), out.size()))
    return 0;
  return records;
}

bool RecordFile::WriteAt(std::int64_t index, const std::uint8_t* record, std::vector<std::uint8_t>* old,
                         bool& appended) {
  appended = false;
  UniqueHandle file(::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, AllSharing, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const std::uint32_t count = WholeRecords(SizeOf(file.get()), size_);
  // Past the end would leave a gap of zeros, which unscrambles into garbage.
  if (index < -1 || index > static_cast<std::int64_t>(count)) return false;
  appended = index == -1 || index == static_cast<std::int64_t>(count);
  const std::uint64_t position = static_cast<std::uint64_t>(appended ? count : index) * size_;
  if (old != nullptr && !appended) {
    old->assign(size_, 0);
    if (Seek(file.get(), position) && ReadExactly(file.get(), old->data(), size_)) ScrambleRecord(old->data(), size_);
  }
  std::vector<std::uint8_t> scrambled(record, record + size_);
  ScrambleRecord(scrambled.data(), size_);
  return Seek(file.get(), position) && WriteExactly(file.get(), scrambled.data(), size_);
}

bool RecordFile::Remove(std::uint32_t index, std::vector<std::uint8_t>& removed) {
  if (!OpenRead() || index >= count_) {
    file_.reset();
    return false;
  }
  const std::string temporary = path_ + ".tmp";
  bool copied = false;
  {
    UniqueHandle out(
        ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out) {
      // The records kept are gathered and written a block at a time.
      std::vector<std::uint8_t> pending;
      pending.reserve(BlockBytes + size_);
      bool writeFailed = false;
      copied = ForEach(0, [&](std::uint32_t at, std::uint8_t* bytes) {
        if (at == index) {
          removed.assign(bytes, bytes + size_);
          ScrambleRecord(removed.data(), size_);
          return false;
        }
        pending.insert(pending.end(), bytes, bytes + size_);
        if (pending.size() >= BlockBytes) {
          writeFailed = !WriteExactly(out.get(), pending.data(), pending.size());
          pending.clear();
        }
        return writeFailed;
      });
      if (copied && !writeFailed && !pending.empty())
        writeFailed = !WriteExactly(out.get(), pending.data(), pending.size());
      copied = copied && !writeFailed && ::FlushFileBuffers(out.get());
    }
  }
  file_.reset();
  bool moved = false;
  for (int attempt = 0; copied && !moved && attempt < 10; ++attempt) {
    moved = ::MoveFileExA(temporary.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    const DWORD error = ::GetLastError();
    if (!moved && error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION)
      break;
    if (!moved) ::Sleep(20);
  }
  if (!moved) {
    ::DeleteFileA(temporary.c_str());
    removed.clear();
  }
  return moved;
}

}  // namespace core
