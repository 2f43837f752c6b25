#include "core/messages/AddressListFiles.h"

#include <algorithm>

#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/domains/AddressChecks.h"
#include "core/domains/DomainTable.h"
#include "core/lists/AccountLists.h"
#include "core/messages/AddressList.h"
#include "core/platform/Files.h"
#include "core/util/Text.h"

namespace core {
namespace {

class ConfigListFiles final : public AddressListFiles {
 public:
  bool Exists(const std::string& fileName) override { return FileExists(fileName); }
  bool ReadLines(const std::string& fileName, std::vector<std::string>& lines) override {
    return ReadTextLines(fileName, lines);
  }
  std::string IncludePath(std::string_view name) override { return ConfigFilePath(name); }
  bool DomainServed(std::string_view domain) override { return DomainListExists(domain); }
  bool IPMatches(std::string_view ip, std::string_view pattern) override {
    return CheckRelayIP(ip, pattern, false, {}) != 0;
  }
};

}  // namespace

bool CheckAddressList(const MessageContext& context, const std::string& listFile) {
  try {
    if (listFile.empty() || !FileExists(listFile)) return true;
    AddressListSubject subject;
    std::string recipients = context.recipients;
    const int count = std::max<int>(1, context.recipientCount);
    for (int i = 0; i < count; ++i) {
      std::string alias, domain;
      SplitEmailAddress(LowerCase(GetListItemAt(recipients, i)), alias, domain);
      subject.recipients.emplace_back(LowerCase(alias), LowerCase(domain));
    }
    SplitEmailAddress(LowerCase(context.sender), subject.senderAlias, subject.senderDomain);
    subject.senderDomain = LowerCase(subject.senderDomain);
    subject.clientIP = GetClientIP(context);
    ConfigListFiles files;
    return AddressNotListed(subject, listFile, files);
  } catch (...) {
    return true;
  }
}

bool AddressNotInList(std::string_view address, const std::string& listFile) {
  try {
    MessageContext context;
    context.sender = CutTo(address, ContextSenderLength);
    context.recipients = std::string(address);
    return CheckAddressList(context, listFile);
  } catch (...) {
    return true;
  }
}

}  // namespace core
