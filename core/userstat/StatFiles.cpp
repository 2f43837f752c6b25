#include "core/userstat/StatFiles.h"

#include <algorithm>

#include "core/accounts/AccountStore.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/lists/AccountLists.h"
#include "core/platform/Files.h"

namespace core {
namespace {

constexpr std::size_t WriteBlock = 64 * 1024;

}  // namespace

std::uint32_t InstalledUserStats::CountDomains() { return core::CountDomains(); }

std::string InstalledUserStats::DomainName(int index) { return DomainListGetName(index); }

bool InstalledUserStats::InitUsers(const std::string& domain) {
  block_.assign(AccountEnumerationSize, 0);
  return core::InitUsers(domain, block_.data(), "", 0, 0);
}

bool InstalledUserStats::NextUser(AccountRecordBytes& record) {
  if (block_.size() != AccountEnumerationSize || core::NextUser(block_.data()) != 0) return false;
  std::copy(block_.begin(), block_.begin() + AccountRecordSize, record.begin());
  return true;
}

void InstalledUserStats::DoneUsers() {
  if (block_.size() == AccountEnumerationSize) core::DoneUsers(block_.data());
}

std::string InstalledUserStats::StatFolder(std::string_view mailboxPath) {
  return GetMailboxPath(mailboxPath, false, {});
}

bool InstalledUserStats::ReadFile(const std::string& name, std::uint64_t offset, std::size_t maxBytes,
                                  std::string& out) {
  return ReadFileBytes(name, offset, maxBytes, out) == FileReadResult::Read;
}

void InstalledUserStats::MailboxSize(const std::string& folder, std::uint64_t& size, std::uint64_t& count) {
  std::uint64_t bytes = 0;
  std::uint32_t files = 0;
  std::uint32_t oldest = 0xFFFFFFFFu;
  GetMailboxSize(folder, bytes, files, oldest);
  size = bytes;
  count = files;
}

void InstalledUserStats::SplitAddress(std::string_view address, std::string& alias, std::string& domain) {
  SplitEmailAddress(address, alias, domain);
}

GroupMemberTest InstalledUserStats::GroupTest() { return GroupTestOver(ConfigGroupFiles()); }

bool UserStatReportFile::Create(const std::string& fileName) {
  name_ = fileName;
  failed_ = false;
  buffer_.clear();
  file_.reset(::CreateFileA(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  return file_.valid();
}

bool UserStatReportFile::Flush() {
  const char* data = buffer_.data();
  std::size_t left = buffer_.size();
  while (left > 0 && !failed_) {
    DWORD written = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(left, WriteBlock));
    if (!::WriteFile(file_.get(), data, want, &written, nullptr) || written == 0) {
      failed_ = true;
      break;
    }
    data += written;
    left -= written;
  }
  buffer_.clear();
  return !failed_;
}

bool UserStatReportFile::Write(std::string_view text) {
  if (!file_ || failed_) return false;
  buffer_.append(text);
  return buffer_.size() < WriteBlock || Flush();
}

bool UserStatReportFile::Close() {
  if (!file_) return false;
  const bool written = Flush();
  return ::CloseHandle(file_.release()) != 0 && written;
}

void UserStatReportFile::Discard() {
  file_.reset();
  buffer_.clear();
  if (!name_.empty()) ::DeleteFileA(name_.c_str());
}

bool WriteUserStatReport(std::string_view fromDate, std::string_view toDate, std::string_view filter,
                         const std::string& fileName, UserStatSource& source, UserStatReportFile& file) {
  if (!file.Create(fileName)) return false;
  bool complete = false;
  try {
    complete = WriteUserStatReport(fromDate, toDate, filter, source, file);
  } catch (...) {
  }
  if (complete && file.Close()) return true;
  file.Discard();
  return false;
}

bool WriteUserStatReport(std::string_view fromDate, std::string_view toDate, std::string_view filter,
                         const std::string& fileName) {
  try {
    InstalledUserStats source;
    UserStatReportFile file;
    return WriteUserStatReport(fromDate, toDate, filter, fileName, source, file);
  } catch (...) {
    return false;
  }
}

}  // namespace core
