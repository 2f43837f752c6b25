#pragma once
// Array files of fixed, scrambled records ("users.cfg", "remote.cfg"): no
// header, a record's index is its position, every record scrambled on its
// own from key index 0. A tail shorter than one record is not a record.
//
// Readers open with read, write and delete sharing, so a writer replacing
// the file is never blocked by them; writes and deletions are serialised by
// the caller (lock 0).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/platform/Handles.h"

namespace core {

class RecordFile {
 public:
  RecordFile(std::string path, std::size_t recordSize) : path_(std::move(path)), size_(recordSize) {}

  // Opens for reading; false when the file is missing or cannot be opened.
  bool OpenRead();
  // Whole records in the file (after OpenRead).
  std::uint32_t Count() const { return count_; }
  // The record at index, unscrambled; false past the end or on a read error.
  bool ReadAt(std::uint32_t index, std::uint8_t* record);
  // Hands the records from first on to visit(index, scrambled bytes), in
  // blocks of many records (one system call per block); visit answers true
  // to stop. False on a read error.
  using Visit = std::function<bool(std::uint32_t index, std::uint8_t* scrambled)>;
  bool ForEach(std::uint32_t first, const Visit& visit);
  // Reads up to max records from first on, scrambled as stored, into out;
  // answers how many (0 at the end or on a read error).
  std::uint32_t ReadBlock(std::uint32_t first, std::uint32_t max, std::vector<std::uint8_t>& out);

  // Writes the record (scrambled in a copy) at index, or appends it when the
  // index is -1 or the count. Creates the file when missing. Refuses an
  // index below -1 or above the count. old, when given and the record
  // replaces one, receives the replaced record (unscrambled). appended tells
  // which it was.
  bool WriteAt(std::int64_t index, const std::uint8_t* record, std::vector<std::uint8_t>* old, bool& appended);

  // Removes the record at index: copies every other record to the file's
  // name + ".tmp" and moves that over the file (retried briefly while
  // another program holds it). removed receives the record taken out
  // (unscrambled). False, with the file unchanged and no temporary file
  // left, when the index is outside or any step fails.
  bool Remove(std::uint32_t index, std::vector<std::uint8_t>& removed);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::size_t size_;
  UniqueHandle file_;
  std::uint32_t count_ = 0;
};

// Scrambles or unscrambles one record in place (key index from 0).
void ScrambleRecord(std::uint8_t* record, std::size_t size);

}  // namespace core
