#include "sender/mail/MailDraft.h"

#include "core/util/Text.h"

namespace sender {

std::string BracketAddress(std::string_view text) {
  const std::size_t open = text.rfind('<');
  if (open != std::string_view::npos) {
    std::string_view address = text.substr(open + 1);
    address = address.substr(0, address.find('>'));
    return "<" + core::Trim(address) + ">";
  }
  if (text.find('>') != std::string_view::npos) return std::string(text);
  return "<" + core::Trim(text) + ">";
}

void AddAddress(MailDraft& draft, AddressKind kind, std::string_view email, std::string_view name) {
  if (email.empty()) {
    email = name;
    name = {};
  }
  if (name.find('@') != std::string_view::npos && email.find('@') == std::string_view::npos) std::swap(email, name);
  const std::string address = BracketAddress(email);
  if (kind != AddressKind::ReplyTo) draft.recipients += address + ";";
  if (kind == AddressKind::Bcc) return;
  std::string entry = core::Trim(std::string(name) + " " + address);
  switch (kind) {
    case AddressKind::To:
      draft.toList.push_back(std::move(entry));
      break;
    case AddressKind::Cc:
      draft.ccList.push_back(std::move(entry));
      break;
    default:
      draft.replyToList.push_back(std::move(entry));
      break;
  }
}

void AddCustomHeader(MailDraft& draft, std::string_view value) {
  std::string line = core::Trim(value);
  if (!line.empty()) draft.customHeaders.push_back(std::move(line));
}

}  // namespace sender
