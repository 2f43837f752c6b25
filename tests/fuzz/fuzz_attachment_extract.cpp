// Attachment extraction over an in-memory folder: it ends, every file it
// creates is one clean component of the folder (or of its "scan\"
// subfolder) within the path limit, every file is noted once, and it writes
// at most twice the bytes it read. Byte 0: form, ExtractAll,
// SkipUnnamedHtml, tag; byte 1: piece size (0: 64 KB); byte 2: read size;
// rest: the message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "core/attachments/AttachmentNames.h"
#include "core/attachments/AttachmentWalk.h"
#include "tests/support/memory_folder.h"

namespace {

// Counts what the walk takes from the message.
class CountingSource final : public core::ByteSource {
 public:
  CountingSource(std::string_view data, std::size_t chunk, std::size_t& count) : source_(data, chunk), count_(count) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t got = source_.Read(buffer, size);
    count_ += got;
    return got;
  }

 private:
  core::MemorySource source_;
  std::size_t& count_;
};

bool InFolder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         core::IsCleanFileComponent(std::string_view(path).substr(folder.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  core::ExtractionOptions options;
  options.folder = "C:\\work\\a\\b\\";
  options.form = static_cast<core::MessageForm>(data[0] % 3);
  options.extractAll = (data[0] & 4) != 0;
  options.skipUnnamedHtml = (data[0] & 8) != 0;
  options.tag = (data[0] & 16) != 0 ? 7 : -1;
  if (data[1] != 0) options.piece = data[1];
  const std::size_t chunk = data[2];
  const std::string_view message(reinterpret_cast<const char*>(data + 3), size - 3);

  testing_support::MemoryFolder folder;
  testing_support::NoteRecorder recorder;
  std::size_t read = 0;
  const core::ExtractionOutcome outcome = core::ExtractParts(
      [&] { return std::make_unique<CountingSource>(message, chunk, read); }, options, folder, recorder);
  if (!outcome.complete) std::abort();

  if (folder.written > 2 * read) std::abort();
  for (const std::string& path : folder.created)
    if (path.size() > core::MaxAttachmentPath ||
        !(InFolder(path, options.folder) || InFolder(path, options.folder + "scan\\")))
      std::abort();
  if (folder.files.size() != recorder.notes.size()) std::abort();
  for (const auto& note : recorder.notes)
    if (folder.Content(note.path) == nullptr) std::abort();
  return 0;
}
