#include "core/attachments/AttachmentWalk.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/attachments/AttachmentNames.h"
#include "core/mime/MessageHeaders.h"
#include "core/mime/TransferCodecs.h"
#include "core/util/Text.h"

namespace core {
namespace {

// Written data leaves in blocks of about this size.
constexpr std::size_t FlushSize = 64 * 1024;
// Tries at a free name before a part is given up.
constexpr int NameAttempts = 8;

// Every delimiter starts with "--".
bool IsDashed(std::string_view line) { return line.size() >= 2 && line[0] == '-' && line[1] == '-'; }

// A cheap first test before ParseUUBeginLine, which every body line meets.
bool MayBeBegin(std::string_view line) { return line.size() > 10 && (line[0] == 'b' || line[0] == 'B'); }

bool StartsWithText(std::string_view line, std::string_view prefix) {
  return line.size() >= prefix.size() && SameText(line.substr(0, prefix.size()), prefix);
}

// The lines of one reading of the message, each in pieces, with the form
// applied: the header of a whole ".imap" file skipped; in the stuffed form
// a line "." ends the message and a leading "." is dropped.
class PieceReader {
 public:
  PieceReader(ByteSource& source, const ExtractionOptions& options)
      : lines_(source), form_(options.form), size_(std::max<std::size_t>(options.piece, 1)) {
    if (form_ == MessageForm::StoredFile) lines_.SkipBytes(StoredFileHeaderBytes);
  }

  // The first piece of the next line (the rest of the current one is passed
  // over); false at the end of the message.
  bool NextLine() {
    SkipRest();
    if (atEnd_ || !lines_.ReadPieceView(piece_, size_)) {
      atEnd_ = true;
      return false;
    }
    ended_ = lines_.LineEnded();
    if (form_ == MessageForm::Stuffed && !piece_.empty() && piece_[0] == '.') {
      if (ended_ && piece_.size() == 1) {
        lines_.SkipToEnd();
        atEnd_ = true;
        return false;
      }
      piece_.remove_prefix(1);
    }
    return true;
  }
  // The next piece of the current line; false once the line has ended.
  bool NextPiece() {
    if (ended_) return false;
    if (!lines_.ReadPieceView(piece_, size_)) {
      ended_ = true;
      return false;
    }
    ended_ = lines_.LineEnded();
    return true;
  }
  void SkipRest() {
    while (NextPiece()) {
    }
  }
  // The reader for whole lines (a header block), the current line passed over.
  LineReader& WholeLines() {
    SkipRest();
    return lines_;
  }

  // Valid until the next read.
  std::string_view Piece() const { return piece_; }
  bool Ended() const { return ended_; }  // the piece closes its line
  bool Failed() const { return lines_.Failed(); }

 private:
  LineReader lines_;
  MessageForm form_;
  std::size_t size_;
  std::string_view piece_;
  bool ended_ = true;
  bool atEnd_ = false;
};

// The file being written, buffered: decoders write into Room and Commit.
class Output {
 public:
  explicit Output(AttachmentFiles& files) : files_(files), buffer_(2 * FlushSize) {}
  ~Output() {
    if (open_) files_.Close();
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool Open() const { return open_; }
  void Opened() {
    open_ = true;
    used_ = 0;
  }
  // Room for n more bytes.
  char* Room(std::size_t n) {
    if (buffer_.size() - used_ < n) {
      Flush();
      if (buffer_.size() < n) buffer_.resize(n);
    }
    return buffer_.data() + used_;
  }
  // The bytes written into Room up to end are kept.
  void Commit(const char* end) {
    used_ = static_cast<std::size_t>(end - buffer_.data());
    if (used_ >= FlushSize) {
      // Whole blocks go out; the rest waits for the next.
      const std::size_t whole = used_ / FlushSize * FlushSize;
      if (!files_.Write(std::string_view(buffer_.data(), whole)))
        throw ExtractionError("an attachment file could not be written");
      std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(whole),
                buffer_.begin() + static_cast<std::ptrdiff_t>(used_), buffer_.begin());
      used_ -= whole;
    }
  }
  void Append(std::string_view bytes) {
    char* at = Room(bytes.size());
    std::copy(bytes.begin(), bytes.end(), at);
    Commit(at + bytes.size());
  }
  void Close() {
    if (!open_) return;
    open_ = false;
    bool ok = true;
    if (used_ != 0) ok = files_.Write(std::string_view(buffer_.data(), used_));
    used_ = 0;
    ok = files_.Close() && ok;
    if (!ok) throw ExtractionError("an attachment file could not be written");
  }

 private:
  void Flush() {
    const bool ok = used_ == 0 || files_.Write(std::string_view(buffer_.data(), used_));
    used_ = 0;
    if (!ok) throw ExtractionError("an attachment file could not be written");
  }

  AttachmentFiles& files_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  bool open_ = false;
};

// Decodes the body of one part piece by piece. Base64 is one stream over the
// lines (a group may go on in the next line); an "=" ends the input of its
// line. Quoted-printable joins a line ending in "=" to the next and keeps an
// escape that a piece edge splits. Uuencode decodes the first piece of each
// line (its length character allows no more than 63 bytes). Plain text is
// copied with CRLF at each line end.
class BodyDecoder {
 public:
  void Reset(int kind) {
    kind_ = kind;
    base64_.Reset();
    padSeen_ = false;
    held_.clear();
  }

  void Piece(std::string_view piece, bool start, bool end, Output& out) {
    switch (kind_) {
      case TransferBase64:
      case TransferMime: {
        if (start) padSeen_ = false;
        if (padSeen_) break;
        auto* at = reinterpret_cast<unsigned char*>(out.Room(piece.size() / 4 * 3 + 3));
        out.Commit(reinterpret_cast<const char*>(base64_.LineTo(piece, at, padSeen_)));
        break;
      }
      case TransferUuencode:
        if (start) Through(out, [&](std::string& text) { DecodeMimeLineTo(TransferUuencode, piece, text); });
        break;
      case TransferQuotedPrintable:
        Through(out, [&](std::string& text) { QuotedPrintable(piece, end, text); });
        break;
      default:
        out.Append(piece);
        if (end) out.Append("\r\n");
        break;
    }
  }

 private:
  template <typename Decode>
  void Through(Output& out, Decode decode) {
    scratch_.clear();
    decode(scratch_);
    out.Append(scratch_);
  }

  void QuotedPrintable(std::string_view piece, bool end, std::string& out) {
    std::string text = std::move(held_);
    held_.clear();
    text.append(piece);
    if (end) {
      DecodeMimeLineTo(TransferQuotedPrintable, text, out);
      return;
    }
    // An "=" among the last two characters may start an escape that the
    // next piece completes.
    std::size_t keep = 0;
    if (text.size() >= 2 && text[text.size() - 2] == '=')
      keep = 2;
    else if (!text.empty() && text.back() == '=')
      keep = 1;
    held_.assign(text, text.size() - keep, keep);
    text.resize(text.size() - keep);
    AppendQuotedPrintable(text, out);
  }

  int kind_ = TransferPlain;
  Base64Decoder base64_;
  bool padSeen_ = false;
  std::string held_;
  std::string scratch_;
};

class Extraction {
 public:
  Extraction(const ExtractionOptions& options, AttachmentFiles& files, AttachmentRecorder& recorder)
      : options_(options), files_(files), recorder_(recorder), output_(files) {}

  // Answers whether some body line was a uuencode "begin" line.
  bool MimePass(ByteSource& source) {
    PieceReader reader(source, options_);
    reader_ = &reader;
    Level(std::string(), 0);
    reader_ = nullptr;
    output_.Close();
    if (reader.Failed()) throw ExtractionError("the message could not be read");
    return uuencodeSeen_;
  }

  void UuencodePass(ByteSource& source, const std::string& folder) {
    PieceReader reader(source, options_);
    bool pending = false;
    for (;;) {
      if (!pending && !reader.NextLine()) break;
      pending = false;
      const std::optional<std::string> name =
          MayBeBegin(reader.Piece()) ? ParseUUBeginLine(reader.Piece()) : std::nullopt;
      if (!name || !CreateTarget(folder, *name, std::string(), true)) continue;
      decoder_.Reset(TransferUuencode);
      while (reader.NextLine()) {
        const std::string_view line = reader.Piece();
        if (reader.Ended() && SameText(line, "end")) break;
        if (MayBeBegin(line) && ParseUUBeginLine(line)) {
          pending = true;
          break;
        }
        decoder_.Piece(line, true, reader.Ended(), output_);
      }
      output_.Close();
    }
    output_.Close();
    if (reader.Failed()) throw ExtractionError("the message could not be read");
  }

 private:
  // One multipart level: the top level (depth 0, no delimiter unless an
  // undeclared one turns up) or the level of a declared boundary. A level
  // ends at its closing delimiter, at the end of the message, or at a line
  // that is an enclosing level's delimiter (left pending for that level).
  void Level(const std::string& boundary, int depth) {
    std::string delimiter = boundary.empty() ? std::string() : "--" + boundary;
    const std::size_t enclosing = delimiters_.size();  // delimiters of the levels around this one
    if (!delimiter.empty()) delimiters_.push_back(delimiter);
    struct Pop {
      std::vector<std::string>& stack;
      std::size_t size;
      ~Pop() { stack.resize(size); }
    } pop{delimiters_, enclosing};

    bool firstPart = depth == 0;
    bool searching = false;
    bool header = depth == 0;  // the top level starts with the message's own header block
    std::optional<std::string> headerStart;
    for (;;) {
      if (!header) {
        if (!pending_ && !reader_->NextLine()) return;
        pending_ = false;
        const std::string_view line = reader_->Piece();
        if (searching && IsBoundaryCandidate(line)) {
          std::string saved = Trim(line);
          const std::string savedLine(line);
          if (!reader_->NextLine()) {
            BodyLine(savedLine, false);
            return;
          }
          if (reader_->Piece().empty() || !StartsWithText(reader_->Piece(), "Content-")) {
            // Not a part after all: both lines are body lines.
            BodyLine(savedLine, false);
            pending_ = true;
            continue;
          }
          delimiter = std::move(saved);
          delimiters_.push_back(delimiter);
          searching = false;
          inPart_ = false;
        }
        const std::string_view current = reader_->Piece();
        if (!delimiter.empty() && IsDashed(current) && current.starts_with(delimiter)) {
          inPart_ = true;
          output_.Close();
          if (IsClosing(current, delimiter)) return;
          header = true;
          headerStart.reset();
        } else if (EnclosingDelimiter(current, delimiters_.size() - (delimiter.empty() ? 0 : 1))) {
          pending_ = true;
          return;
        } else if (!inPart_) {
          header = true;
          headerStart = std::string(current);
        } else {
          BodyLine(current, true);
          continue;
        }
      }

      // A part's header block.
      header = false;
      inPart_ = true;
      output_.Close();
      MimePartHeaders& headers = headers_;
      if (headerStart) {
        ParseMimePartHeaders(reader_->WholeLines(), headers, *headerStart);
        headerStart.reset();
      } else {
        ParseMimePartHeaders(reader_->WholeLines(), headers);
      }
      if (firstPart) {
        searching = headers.type.empty() && headers.boundary.empty() && delimiter.empty();
        firstPart = false;
      }
      for (int enclosed = 0; enclosed < MaxMultipartDepth && IsEncapsulated(headers); ++enclosed)
        ParseMimePartHeaders(reader_->WholeLines(), headers);
      if (!headers.boundary.empty()) {
        // Deeper levels are not entered: their lines pass as this level's.
        if (depth + 1 < MaxMultipartDepth) Level(headers.boundary, depth + 1);
        continue;
      }
      OpenPart(searching);
    }
  }

  static bool IsEncapsulated(const MimePartHeaders& headers) {
    return SameText(headers.type, "message") && SameText(headers.subtype, "rfc822");
  }

  // A line that may be an undeclared delimiter: "--" and a token.
  bool IsBoundaryCandidate(std::string_view line) const {
    if (!reader_->Ended() || !line.starts_with("--")) return false;
    const std::string trimmed = Trim(line);
    return trimmed.size() >= 3 && trimmed.find(' ') == std::string::npos;
  }

  // The closing delimiter, perhaps padded with blanks in transit.
  bool IsClosing(std::string_view line, const std::string& delimiter) const {
    if (!reader_->Ended()) return false;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    return line.size() == delimiter.size() + 2 && line.ends_with("--");
  }

  // Whether the line is the delimiter (or closing delimiter) of one of the
  // first count levels on the stack, those around the current one. Only a
  // whole delimiter line counts: an inner boundary may begin with an outer
  // one's text.
  bool EnclosingDelimiter(std::string_view line, std::size_t count) const {
    if (count == 0 || !IsDashed(line) || !reader_->Ended()) return false;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    for (std::size_t i = count; i-- > 0;) {
      const std::string& outer = delimiters_[i];
      if (line.starts_with(outer) && (line.size() == outer.size() || line.substr(outer.size()) == "--")) return true;
    }
    return false;
  }

  // A line of a part's body: decoded into the open file, if any; a uuencode
  // "begin" line is noted either way. rest: the line goes on in the
  // reader's next pieces.
  void BodyLine(std::string_view first, bool rest) {
    if (!uuencodeSeen_ && MayBeBegin(first) && ParseUUBeginLine(first)) uuencodeSeen_ = true;
    const bool ended = !rest || reader_->Ended();
    if (!output_.Open()) return;
    decoder_.Piece(first, true, ended, output_);
    if (ended) return;
    while (reader_->NextPiece())
      decoder_.Piece(reader_->Piece(), false, reader_->Ended(), output_);
  }

  // Chooses the part's file and opens it; a part without a file is passed over.
  void OpenPart(bool searching) {
    const MimePartHeaders& headers = headers_;
    std::string listed = headers.fileName;
    bool generated = false;
    if (listed.empty()) {
      std::string_view extension;
      if (SameText(headers.type, "text") && SameText(headers.subtype, "html") && !options_.skipUnnamedHtml)
        extension = ".html";
      else if (options_.extractAll && !searching)
        extension = ".tmp";
      else
        return;
      listed = GeneratedName(extension);
      if (listed.empty()) return;
      generated = true;
    }
    decoder_.Reset(TransferKindOf(headers.transferEncoding));
    CreateTarget(options_.folder, listed, listed, generated);
  }

  // A bare unique name with the extension, cleaned like any other.
  std::string GeneratedName(std::string_view extension) {
    const std::string name = CleanFileComponent(files_.UniqueName(std::string(), extension));
    return NeedsGeneratedName(name) ? std::string() : name;
  }

  // Creates the file of a declared name in the folder and notes it: the name
  // cleaned, a generated one in place of a device or empty name or one that
  // does not fit the path; a taken name gets a unique name in front. False
  // when no file was made.
  bool CreateTarget(const std::string& folder, const std::string& declared, const std::string& listed, bool generated) {
    files_.MakeFolder(folder);
    std::string name = CleanFileComponent(declared);
    const std::string extension = KeptExtension(name);
    const auto fits = [&](const std::string& n) { return !n.empty() && folder.size() + n.size() <= MaxAttachmentPath; };
    if (NeedsGeneratedName(name) || !fits(name)) name = GeneratedName(extension);
    if (!fits(name)) return false;
    std::string path = folder + name;
    for (int attempt = 0;; ++attempt) {
      const AttachmentFiles::Created created = files_.Create(path, false);
      if (created == AttachmentFiles::Created::Yes) break;
      if (created == AttachmentFiles::Created::Failed || attempt == NameAttempts) return false;
      const std::string unique = CleanFileComponent(files_.UniqueName(folder, std::string_view()));
      if (NeedsGeneratedName(unique)) return false;
      std::string other = unique + "." + name;
      if (!fits(other)) other = unique + extension;
      if (!fits(other)) return false;
      path = folder + other;
    }
    bool noted = false;
    try {
      noted = recorder_.Add(path, listed, generated);
    } catch (...) {
    }
    if (!noted) {
      files_.Close();
      files_.Delete(path);
      return false;
    }
    output_.Opened();
    return true;
  }

  const ExtractionOptions& options_;
  AttachmentFiles& files_;
  AttachmentRecorder& recorder_;
  Output output_;
  BodyDecoder decoder_;
  PieceReader* reader_ = nullptr;
  MimePartHeaders headers_;
  std::vector<std::string> delimiters_;  // of the levels entered, outermost first
  bool pending_ = false;                 // the reader's current line waits to be handled
  bool inPart_ = false;
  bool uuencodeSeen_ = false;
};

}  // namespace

ExtractionOutcome ExtractParts(const MessageOpener& open, const ExtractionOptions& options, AttachmentFiles& files,
                               AttachmentRecorder& recorder) {
  ExtractionOutcome outcome;
  outcome.folder = options.folder;
  std::unique_ptr<ByteSource> source = open();
  if (!source) return outcome;
  Extraction extraction(options, files, recorder);
  const bool uuencoded = extraction.MimePass(*source);
  source.reset();
  if (uuencoded) {
    source = open();
    if (!source) return outcome;
    if (options.tag != -1) outcome.folder += "scan\\";
    extraction.UuencodePass(*source, outcome.folder);
  }
  outcome.complete = true;
  return outcome;
}

}  // namespace core
