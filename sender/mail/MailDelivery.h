#pragma once
// One Mailer send on Windows: the draft composed with the local time and
// zone of this moment, a random boundary and the files read whole, then
// handed to one SMTP client thread created under lock 0 of the lock table
// and waited for.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/mime/LineReader.h"
#include "core/platform/Handles.h"
#include "sender/mail/MailComposer.h"
#include "sender/mail/MailDraft.h"

namespace sender {

// The draft's part files, by their UTF-16 paths.
class FilePartReader final : public PartReader {
 public:
  explicit FilePartReader(const std::vector<MailPart>& parts) : parts_(parts) {}
  std::unique_ptr<core::ByteSource> Open(std::size_t index) override;

 private:
  const std::vector<MailPart>& parts_;
};

enum class FileReadResult { Read, NotOpened, Failed };
// The whole file appended to bytes (nothing appended unless Read).
FileReadResult ReadWholeFile(const std::wstring& fileName, std::string& bytes);

// What a send gives: 1 the server accepted the message; -1 composing failed
// (a file could not be read) or the SMTP client refused the envelope; -2 no
// connection (none could be made, the thread could not be started, the
// server text is longer than 255 characters or names a port outside
// 1-65535); -3 the server did not accept the message, response its last
// reply without CRLF.
struct MailOutcome {
  std::int32_t result = -1;
  std::string response;
};

MailOutcome DeliverMail(const MailDraft& draft, PartReader& parts);

}  // namespace sender
