#include "core/mime/LineReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Sixteen bytes at a time where the processor has SSE2, else eight: the C
// runtime's memchr is a byte loop on some platforms, and a line would need
// two searches with it.
const char* FindLineEnd(const char* begin, std::size_t n) {
  const char* p = begin;
  const char* const end = begin + n;
#if defined(__SSE2__)
  const __m128i lineFeeds = _mm_set1_epi8('\n'), returns = _mm_set1_epi8('\r');
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeeds), _mm_cmpeq_epi8(bytes, returns)));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
  }
#else
  constexpr std::uint64_t Ones = 0x0101010101010101u, Highs = 0x8080808080808080u;
  constexpr std::uint64_t LineFeeds = Ones * '\n', Returns = Ones * '\r';
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const std::uint64_t a = word ^ LineFeeds, b = word ^ Returns;
    // Non-zero exactly when some byte of a or of b is zero.
    if ((((a - Ones) & ~a) | ((b - Ones) & ~b)) & Highs) break;
  }
#endif
  for (; p < end; ++p)
    if (*p == '\r' || *p == '\n') return p;
  return nullptr;
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

bool LineReader::ReadPieceView(std::string_view& piece, std::size_t limit) {
  if (limit == 0) limit = 1;
  if (skipLineFeed_) {
    skipLineFeed_ = false;
    if ((position_ < filled_ || Fill()) && buffer_[position_] == '\n') ++position_;
  }
  // A piece that lies in one block is handed out in place; one that crosses
  // a block edge is gathered here.
  assembled_.clear();
  bool gathered = false;
  const auto take = [&](const char* begin, std::size_t length) {
    if (gathered) {
      assembled_.append(begin, length);
      piece = assembled_;
    } else {
      piece = std::string_view(begin, length);
    }
  };
  for (bool consumed = false;; consumed = true) {
    if (position_ == filled_ && !Fill()) {
      ended_ = true;
      piece = assembled_;
      return consumed;
    }
    const char* begin = buffer_.data() + position_;
    const std::size_t scan = std::min(filled_ - position_, limit - assembled_.size());
    const char* end = FindLineEnd(begin, scan);
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - begin) : scan;
    position_ += length;
    if (end != nullptr) {
      skipLineFeed_ = *end == '\r';
      ++position_;
      ended_ = true;
      take(begin, length);
      return true;
    }
    if (assembled_.size() + length < limit) {
      // The block ended first: the piece goes on in the next one.
      assembled_.append(begin, length);
      gathered = true;
      continue;
    }
    // A piece of exactly limit characters; the line may still end right here.
    if (position_ == filled_) {
      assembled_.append(begin, length);
      gathered = true;
      piece = assembled_;
      if (!Fill()) {
        ended_ = true;
        return true;
      }
    } else {
      take(begin, length);
    }
    ended_ = buffer_[position_] == '\r' || buffer_[position_] == '\n';
    if (ended_) {
      skipLineFeed_ = buffer_[position_] == '\r';
      ++position_;
    }
    return true;
  }
}

bool LineReader::ReadPiece(std::string& piece, std::size_t limit) {
  std::string_view view;
  const bool read = ReadPieceView(view, limit);
  piece.assign(view);
  return read;
}

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
