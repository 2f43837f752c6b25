#pragma once
// The user statistics report over this installation: the domain table, the
// account walk, the statistics files beside each mailbox and the mailbox
// walk, written to a report file that is deleted again when it could not
// be completed.
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/Handles.h"
#include "core/userstat/StatReport.h"

namespace core {

// The installation as the report reads it (the methods may be overridden
// to watch or disturb the calls).
class InstalledUserStats : public UserStatSource {
 public:
  std::uint32_t CountDomains() override;
  std::string DomainName(int index) override;
  bool InitUsers(const std::string& domain) override;
  bool NextUser(AccountRecordBytes& record) override;
  void DoneUsers() override;
  // GetMailboxPath without a sub-folder.
  std::string StatFolder(std::string_view mailboxPath) override;
  // Opens with every sharing mode, so the services keep writing.
  bool ReadFile(const std::string& name, std::uint64_t offset, std::size_t maxBytes, std::string& out) override;
  // ".imap" and ".tmp" files below the folder; links are not followed.
  void MailboxSize(const std::string& folder, std::uint64_t& size, std::uint64_t& count) override;
  void SplitAddress(std::string_view address, std::string& alias, std::string& domain) override;
  // The groups of the configuration folder.
  GroupMemberTest GroupTest() override;

 private:
  std::vector<std::uint8_t> block_;
};

// The report file, written through a buffer in large blocks. Write is
// virtual so that a test can make it fail.
class UserStatReportFile : public UserStatSink {
 public:
  // Creates or overwrites the file; the name is used as given, never cut.
  bool Create(const std::string& fileName);
  bool Write(std::string_view text) override;
  // Writes what is buffered and closes; false when any byte was not written.
  bool Close();
  // Closes and deletes the file.
  void Discard();

 private:
  bool Flush();
  std::string name_;
  UniqueHandle file_;
  std::string buffer_;
  bool failed_ = false;
};

// Writes the report of the source into the file: false when the file could
// not be created, and false with the file deleted when a write or the close
// failed or the report could not be finished.
bool WriteUserStatReport(std::string_view fromDate, std::string_view toDate, std::string_view filter,
                         const std::string& fileName, UserStatSource& source, UserStatReportFile& file);

// The same over this installation.
bool WriteUserStatReport(std::string_view fromDate, std::string_view toDate, std::string_view filter,
                         const std::string& fileName);

}  // namespace core
