#pragma once
// C stdio files as the block source and sink of the MIME routines, so the
// benchmarks read and write real files on the host.

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "core/mime/LineReader.h"

namespace bench {

class StdioSource final : public core::ByteSource {
 public:
  explicit StdioSource(const char* fileName) : file_(std::fopen(fileName, "rb")) {
    if (file_ != nullptr && std::fseek(file_, 0, SEEK_END) == 0) {
      const long size = std::ftell(file_);
      size_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
      std::rewind(file_);
    }
  }
  ~StdioSource() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  StdioSource(const StdioSource&) = delete;
  StdioSource& operator=(const StdioSource&) = delete;
  std::size_t Read(char* buffer, std::size_t size) override {
    return file_ != nullptr ? std::fread(buffer, 1, size, file_) : 0;
  }
  std::uint64_t SizeHint() const override { return size_; }

 private:
  std::FILE* file_;
  std::uint64_t size_ = 0;
};

class StdioSink final : public core::ByteSink {
 public:
  explicit StdioSink(std::FILE* file) : file_(file) {}
  bool Write(std::string_view bytes) override {
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }

 private:
  std::FILE* file_;
};

}  // namespace bench
