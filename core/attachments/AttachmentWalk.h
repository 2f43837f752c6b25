#pragma once
// Takes a stored message apart into one file per attachment: the MIME pass
// (nested multiparts, encapsulated messages, base64, quoted-printable,
// uuencode and plain bodies) and, when it met a uuencode "begin" line, the
// uuencode pass over a second reading. Pure over a byte source and two small
// interfaces, so it runs against an in-memory folder as well as the disk.
//
// Every line and name is hostile: lines of any length are handled in pieces
// (a delimiter or "begin" line is recognised by the piece that starts it),
// nesting stops at 64 levels, file names go through CleanFileComponent and
// the device rule (AttachmentNames.h), and the passes write at most twice
// the bytes they read.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/mime/LineReader.h"
#include "core/mime/MessageBody.h"

namespace core {

// The folder the files go to. One file is open at a time.
class AttachmentFiles {
 public:
  enum class Created { Yes, Exists, Failed };
  virtual ~AttachmentFiles() = default;
  // Creates the folder and its missing parents; false when it is not there afterwards.
  virtual bool MakeFolder(const std::string& folder) = 0;
  // Creates the file and makes it the open one: a new file only (Exists when
  // the name is taken), or with replace an existing one emptied.
  virtual Created Create(const std::string& path, bool replace) = 0;
  // Appends to the open file; false when the bytes could not be written.
  virtual bool Write(std::string_view bytes) = 0;
  // Closes the open file; false when it could not be completed.
  virtual bool Close() = 0;
  virtual void Delete(const std::string& path) = 0;
  // A bare file name that no file of the folder holds yet (with an empty
  // folder: one unique by its time and counter), ending in the extension;
  // empty when none could be made.
  virtual std::string UniqueName(const std::string& folder, std::string_view extension) = 0;
};

// Takes note of each file the passes created (the collection, in the
// library).
class AttachmentRecorder {
 public:
  virtual ~AttachmentRecorder() = default;
  // path: the file; name: the name to list (the declared one, a generated
  // one, or empty for a uuencoded file); generated: the name was not
  // declared. False when it could not be noted: the file is deleted and the
  // part passed over.
  virtual bool Add(const std::string& path, const std::string& name, bool generated) = 0;
};

// A read or a write failed; the passes stop. Files created so far stay
// noted.
class ExtractionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ExtractionOptions {
  std::string folder;  // ends in "\"
  std::int32_t tag = -1;
  bool extractAll = false;       // unnamed parts too, under generated ".tmp" names
  bool skipUnnamedHtml = false;  // no generated ".html" files
  MessageForm form = MessageForm::Stored;
  std::size_t piece = LineReader::BlockSize;  // body lines are handled in pieces of this size
};

// A fresh reading of the message from its first byte; nullptr when it
// cannot be opened.
using MessageOpener = std::function<std::unique_ptr<ByteSource>()>;

struct ExtractionOutcome {
  bool complete = false;  // false: the message (or its second reading) could not be opened
  std::string folder;     // where the uuencode pass wrote: the folder, + "scan\" when tagged
};

// Runs the passes. Parts whose file cannot be created or noted are passed
// over; a failed read or write throws ExtractionError.
ExtractionOutcome ExtractParts(const MessageOpener& open, const ExtractionOptions& options, AttachmentFiles& files,
                               AttachmentRecorder& recorder);

}  // namespace core
