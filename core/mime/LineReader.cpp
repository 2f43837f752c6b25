#include "core/mime/LineReader.h"

#include <algorithm>
#include <cstring>

namespace core {

std::size_t MemorySource::Read(char* buffer, std::size_t size) {
  std::size_t count = std::min(size, data_.size());
  if (chunk_ != 0) count = std::min(count, chunk_);
  if (count != 0) std::memcpy(buffer, data_.data(), count);
  data_.remove_prefix(count);
  return count;
}

bool StringSink::Write(std::string_view bytes) {
  text_.append(bytes);
  return true;
}

std::size_t HeaderBudget::Room() const {
  if (lines_ >= HeaderLineLimit || characters_ + 2 > HeaderTextLimit) return 0;
  return HeaderTextLimit - characters_ - 2;
}

bool HeaderBudget::Take(std::size_t length) {
  if (lines_ >= HeaderLineLimit || length > Room()) return false;
  ++lines_;
  characters_ += length + 2;
  return true;
}

LineReader::LineReader(ByteSource& source) : source_(source), buffer_(BlockSize) {}

bool LineReader::Fill() {
  if (atEnd_) return false;
  const std::size_t count = source_.Read(buffer_.data(), buffer_.size());
  if (count == 0) {
    atEnd_ = true;
    return false;
  }
  position_ = 0;
  filled_ = std::min(count, buffer_.size());
  return true;
}

bool LineReader::ReadPiece(std::string& piece, std::size_t limit) {
  piece.clear();
  if (limit == 0) limit = 1;
  if (skipLineFeed_) {
    skipLineFeed_ = false;
    if ((position_ < filled_ || Fill()) && buffer_[position_] == '\n') ++position_;
  }
  bool consumed = false;
  for (;;) {
    if (position_ == filled_ && !Fill()) {
      ended_ = true;
      return consumed;
    }
    consumed = true;
    const char* begin = buffer_.data() + position_;
    const std::size_t scan = std::min(filled_ - position_, limit - piece.size());
    std::size_t i = 0;
    while (i < scan && begin[i] != '\r' && begin[i] != '\n')
      ++i;
    piece.append(begin, i);
    position_ += i;
    if (i < scan) {
      skipLineFeed_ = begin[i] == '\r';
      ++position_;
      ended_ = true;
      return true;
    }
    if (piece.size() == limit) {
      // A line of exactly limit characters still ends here.
      ended_ = false;
      if (position_ == filled_ && !Fill()) {
        ended_ = true;
      } else if (buffer_[position_] == '\r' || buffer_[position_] == '\n') {
        skipLineFeed_ = buffer_[position_] == '\r';
        ++position_;
        ended_ = true;
      }
      return true;
    }
  }
}

namespace {

// The first CR or LF of the n bytes, or nullptr. The LF search runs first so
// the CR search never reaches past the line.
const char* FindLineEnd(const char* begin, std::size_t n) {
  const auto* lineFeed = static_cast<const char*>(std::memchr(begin, '\n', n));
  const std::size_t before = lineFeed != nullptr ? static_cast<std::size_t>(lineFeed - begin) : n;
  const auto* carriageReturn = static_cast<const char*>(std::memchr(begin, '\r', before));
  return carriageReturn != nullptr ? carriageReturn : lineFeed;
}

}  // namespace

bool LineReader::ReadLineView(std::string_view& line, std::size_t limit) {
  cut_ = false;
  ended_ = true;
  if (skipLineFeed_) {
    skipLineFeed_ = false;
    if ((position_ < filled_ || Fill()) && buffer_[position_] == '\n') ++position_;
  }
  if (position_ == filled_ && !Fill()) return false;
  const char* begin = buffer_.data() + position_;
  std::size_t available = filled_ - position_;
  const char* end = FindLineEnd(begin, available);
  if (end != nullptr) {
    std::size_t length = static_cast<std::size_t>(end - begin);
    skipLineFeed_ = *end == '\r';
    position_ += length + 1;
    if (length > limit) {
      length = limit;
      cut_ = true;
    }
    line = std::string_view(begin, length);
    return true;
  }
  // The line goes on in the next block: the kept part is gathered.
  assembled_.assign(begin, std::min(available, limit));
  std::size_t total = available;
  position_ = filled_;
  while (Fill()) {
    begin = buffer_.data();
    available = filled_;
    end = FindLineEnd(begin, available);
    const std::size_t take = end != nullptr ? static_cast<std::size_t>(end - begin) : available;
    if (assembled_.size() < limit) assembled_.append(begin, std::min(take, limit - assembled_.size()));
    total += take;
    if (end != nullptr) {
      skipLineFeed_ = *end == '\r';
      position_ = take + 1;
      break;
    }
    position_ = filled_;
  }
  cut_ = total > limit;
  line = assembled_;
  return true;
}

bool LineReader::ReadLine(std::string& line, std::size_t limit) {
  std::string_view view;
  if (!ReadLineView(view, limit)) {
    line.clear();
    return false;
  }
  line.assign(view);
  return true;
}

bool LineReader::ReadHeaderLine(std::string& line, HeaderBudget& budget) {
  const std::size_t room = budget.Room();
  if (!ReadLine(line, room + 1)) return false;
  return !cut_ && budget.Take(line.size());
}

void LineReader::SkipBytes(std::size_t count) {
  while (count != 0 && (position_ < filled_ || Fill())) {
    const std::size_t step = std::min(count, filled_ - position_);
    position_ += step;
    count -= step;
  }
}

void LineReader::SkipToEnd() {
  position_ = filled_;
  while (Fill())
    position_ = filled_;
  skipLineFeed_ = false;
  ended_ = true;
}

}  // namespace core
