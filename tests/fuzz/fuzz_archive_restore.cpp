// Restores random archive images into an in-memory sink. The first byte
// picks the start offset (low four bits) and whether existing files are kept
// (bit 4, every other entry then passed over). Every path the sink is
// handed must pass the name check again, hold no "/", and each Begin that
// succeeded must end in exactly one Commit or Abort before the next.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/archive/ArchiveFormat.h"
#include "core/archive/ArchiveStreams.h"

namespace {

class CheckingSink final : public core::RestoreSink {
 public:
  explicit CheckingSink(bool keepSome) : keepSome_(keepSome) {}
  ~CheckingSink() override {
    if (open_) std::abort();
  }
  std::size_t BaseLength() const override { return 40; }
  bool Wants(const std::string& path) override {
    Check(path);
    return !keepSome_ || (++asked_ % 2) == 0;
  }
  bool Begin(const std::string& path) override {
    Check(path);
    if (open_) std::abort();
    written_ = 0;
    open_ = path.size() % 7 != 3;  // now and then a file cannot be created
    return open_;
  }
  bool Write(const std::uint8_t*, std::size_t size) override {
    if (!open_) std::abort();
    written_ += size;
    if (written_ > core::kMaxEntryBytes) std::abort();
    return true;
  }
  bool Commit() override { return Close(); }
  void Abort() override { Close(); }

 private:
  void Check(const std::string& path) const {
    std::string again;
    if (!core::CheckEntryName(path, BaseLength(), again) || again != path) std::abort();
  }
  bool Close() {
    if (!open_) std::abort();
    open_ = false;
    return true;
  }
  bool keepSome_;
  bool open_ = false;
  int asked_ = 0;
  std::uint64_t written_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  CheckingSink sink((data[0] & 0x10) != 0);
  core::MemoryArchiveInput input(data + 1, size - 1);
  core::RestoreEntries(input, data[0] & 0x0F, sink);
  return 0;
}
