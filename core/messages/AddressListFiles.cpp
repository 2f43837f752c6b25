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
    GetListItemAt(recipients, -1);  // the list form: a lone item gets its ";"
    const std::string_view list = TrimView(recipients);
    const int count = std::max<int>(1, context.recipientCount);
    // One walk over the list: item i as GetListItemAt gives it, empty past the end.
    std::size_t start = 0;
    for (int i = 0; i < count; ++i) {
      std::string_view item;
      if (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string_view::npos) end = list.size();
        item = TrimView(list.substr(start, end - start));
        start = end + 1;
      }
      std::string alias, domain;
      SplitEmailAddress(LowerCase(item), alias, domain);
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
