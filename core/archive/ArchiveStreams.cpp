#include "core/archive/ArchiveStreams.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace core {

namespace {

constexpr uInt kChunk = static_cast<uInt>(kArchiveChunkSize);

StreamResult Emit(const WriteCallback& write, const std::uint8_t* data, std::size_t size, std::uint64_t cap,
                  std::uint64_t& produced) {
  if (size == 0) return StreamResult::Ok;
  produced += size;
  if (produced > cap) return StreamResult::TooLarge;
  return write(data, size) ? StreamResult::Ok : StreamResult::WriteFailed;
}

}  // namespace

// The zlib state is set up once and reset for every further stream: setting
// it up allocates several blocks, costly per file where there are thousands.
struct Deflater::State {
  z_stream stream{};
  bool ready = false;
  std::vector<std::uint8_t> in = std::vector<std::uint8_t>(kChunk);
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kChunk);
  ~State() {
    if (ready) deflateEnd(&stream);
  }
};

Deflater::Deflater() : state_(std::make_unique<State>()) {}
Deflater::~Deflater() = default;

StreamResult Deflater::Run(const ReadCallback& read, std::uint64_t limit, const WriteCallback& write,
                           std::uint64_t outputCap, std::uint64_t& consumed, std::uint64_t& produced) {
  consumed = 0;
  produced = 0;
  z_stream& z = state_->stream;
  if (state_->ready) {
    if (deflateReset(&z) != Z_OK) return StreamResult::NoMemory;
  } else {
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) return StreamResult::NoMemory;
    state_->ready = true;
  }
  std::uint8_t* in = state_->in.data();
  std::uint8_t* out = state_->out.data();
  bool inputEnded = false;
  for (;;) {
    if (z.avail_in == 0 && !inputEnded) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, limit - consumed));
      const std::int64_t got = want > 0 ? read(in, want) : 0;
      if (got < 0) return StreamResult::ReadFailed;
      consumed += static_cast<std::uint64_t>(got);
      z.next_in = in;
      z.avail_in = static_cast<uInt>(got);
      inputEnded = got == 0 || consumed == limit;
    }
    z.next_out = out;
    z.avail_out = kChunk;
    const int rc = deflate(&z, inputEnded ? Z_FINISH : Z_NO_FLUSH);
    if (rc == Z_STREAM_ERROR) return StreamResult::BadData;
    const StreamResult emitted = Emit(write, out, kChunk - z.avail_out, outputCap, produced);
    if (emitted != StreamResult::Ok) return emitted;
    if (rc == Z_STREAM_END) return StreamResult::Ok;
  }
}

struct Inflater::State {
  z_stream stream{};
  bool ready = false;
  std::vector<std::uint8_t> in = std::vector<std::uint8_t>(kChunk);
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kChunk);
  ~State() {
    if (ready) inflateEnd(&stream);
  }
};

Inflater::Inflater() : state_(std::make_unique<State>()) {}
Inflater::~Inflater() = default;

StreamResult Inflater::Run(const ReadCallback& read, std::uint64_t inputLength, const WriteCallback& write,
                           std::uint64_t outputCap) {
  z_stream& z = state_->stream;
  if (state_->ready) {
    if (inflateReset(&z) != Z_OK) return StreamResult::NoMemory;
  } else {
    if (inflateInit(&z) != Z_OK) return StreamResult::NoMemory;
    state_->ready = true;
  }
  // A stream left unfinished before must not lend its input to this one.
  z.avail_in = 0;
  std::uint8_t* in = state_->in.data();
  std::uint8_t* out = state_->out.data();
  std::uint64_t remaining = inputLength;
  std::uint64_t produced = 0;
  for (;;) {
    if (z.avail_in == 0 && remaining > 0) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, remaining));
      const std::int64_t got = read(in, want);
      if (got < 0) return StreamResult::ReadFailed;
      remaining = got == 0 ? 0 : remaining - static_cast<std::uint64_t>(got);
      z.next_in = in;
      z.avail_in = static_cast<uInt>(got);
    }
    z.next_out = out;
    z.avail_out = kChunk;
    const int rc = inflate(&z, Z_NO_FLUSH);
    if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_STREAM_ERROR) return StreamResult::BadData;
    if (rc == Z_MEM_ERROR) return StreamResult::NoMemory;
    const StreamResult emitted = Emit(write, out, kChunk - z.avail_out, outputCap, produced);
    if (emitted != StreamResult::Ok) return emitted;
    if (rc == Z_STREAM_END) return StreamResult::Ok;
    // Room left for output and no input left: the stream cannot end.
    if (z.avail_in == 0 && remaining == 0 && z.avail_out != 0) return StreamResult::Unfinished;
  }
}

EntryWrite EntryWriter::Write(ArchiveOutput& output, std::string_view name, bool compressed, std::uint64_t size,
                              const ReadCallback& read) {
  if (name.empty() || name.size() > kMaxEntryNameLength || size > kMaxEntryBytes) return EntryWrite::LeftOut;
  const std::uint64_t start = output.Size();
  EntryWrite result = EntryWrite::LeftOut;
  try {
    result = WriteFrom(output, start, name, compressed, size, read);
  } catch (...) {
    // Out of memory: the entry goes, the archive stays whole.
  }
  if (result != EntryWrite::Written && !output.CutBack(start)) return EntryWrite::OutputFailed;
  return result;
}

// The entry at start, without cleaning up after a failure.
EntryWrite EntryWriter::WriteFrom(ArchiveOutput& output, std::uint64_t start, std::string_view name, bool compressed,
                                  std::uint64_t size, const ReadCallback& read) {
  const std::string head = MakeEntryHead(name, compressed ? 0 : static_cast<std::uint32_t>(size));
  if (!output.Append(reinterpret_cast<const std::uint8_t*>(head.data()), head.size())) return EntryWrite::OutputFailed;

  std::uint64_t length = 0;
  if (compressed) {
    std::uint64_t consumed = 0;
    const StreamResult result = deflater_.Run(
        read, size, [&](const std::uint8_t* data, std::size_t count) { return output.Append(data, count); },
        kMaxEntryBytes, consumed, length);
    if (result == StreamResult::WriteFailed) return EntryWrite::OutputFailed;
    if (result != StreamResult::Ok) return EntryWrite::LeftOut;
  } else {
    buffer_.resize(kArchiveChunkSize);
    while (length < size) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), size - length));
      const std::int64_t got = read(buffer_.data(), want);
      if (got < 0) return EntryWrite::LeftOut;
      if (got == 0) break;  // the file shrank since it was opened
      if (!output.Append(buffer_.data(), static_cast<std::size_t>(got))) return EntryWrite::OutputFailed;
      length += static_cast<std::uint64_t>(got);
    }
    if (length == size) return EntryWrite::Written;
  }
  const std::string patched = MakeEntryHead("", static_cast<std::uint32_t>(length)).substr(1);
  const std::uint64_t lengthOffset = start + 1 + name.size();
  if (!output.Patch(lengthOffset, reinterpret_cast<const std::uint8_t*>(patched.data()), patched.size())) {
    return EntryWrite::OutputFailed;
  }
  return EntryWrite::Written;
}

bool RestoreEntries(ArchiveInput& input, std::uint64_t start, RestoreSink& sink) {
  ArchiveHeader header;
  if (ReadArchiveHeader(input, start, header) != ArchiveRead::Ok) return false;
  const ReadCallback read = [&](std::uint8_t* data, std::size_t size) { return input.Read(data, size); };
  const WriteCallback write = [&](const std::uint8_t* data, std::size_t size) { return sink.Write(data, size); };
  Inflater inflater;
  std::vector<std::uint8_t> buffer;
  bool ok = true;
  for (;;) {
    EntryHead head;
    const ArchiveRead status = ReadEntryHead(input, header.version, head);
    if (status == ArchiveRead::End) break;
    if (status != ArchiveRead::Ok) return false;

    std::string path;
    if (!CheckEntryName(head.name, sink.BaseLength(), path)) {
      ok = false;
    } else if (sink.Wants(path)) {
      if (!sink.Begin(path)) {
        ok = false;
      } else {
        StreamResult result = StreamResult::Ok;
        if (header.compressed) {
          // L = 0 is what the writer once stored for an empty file.
          if (head.length > 0) result = inflater.Run(read, head.length, write);
        } else {
          buffer.resize(kArchiveChunkSize);
          for (std::uint64_t left = head.length; left > 0 && result == StreamResult::Ok;) {
            const std::int64_t got =
                input.Read(buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left)));
            if (got <= 0) {
              result = got < 0 ? StreamResult::ReadFailed : StreamResult::Unfinished;
            } else if (!sink.Write(buffer.data(), static_cast<std::size_t>(got))) {
              result = StreamResult::WriteFailed;
            } else {
              left -= static_cast<std::uint64_t>(got);
            }
          }
        }
        if (result != StreamResult::Ok) {
          sink.Abort();
          ok = false;
        } else if (!sink.Commit()) {
          ok = false;
        }
      }
    }
    if (!input.Seek(head.dataOffset + head.length)) return false;
  }
  return ok;
}

}  // namespace core
