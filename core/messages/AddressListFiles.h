#pragma once
// The address-list check on the configuration folder's files: relative
// include names under the configuration folder, the served domains of the
// domain table, client addresses through the relay-list pattern test.
#include <string>
#include <string_view>

#include "core/messages/MessageContext.h"

namespace core {

// True when no entry of the list matches the context's recipients (its
// recipient count, at least one), sender or client address; true as well
// for a missing list and on any error.
bool CheckAddressList(const MessageContext& context, const std::string& listFile);

// CheckAddressList for a context whose sender and recipient are the address.
bool AddressNotInList(std::string_view address, const std::string& listFile);

}  // namespace core
