#include "core/util/XMLUnit.h"

namespace core {

bool ContainsHighChars(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 128) return true;
  return false;
}

}  // namespace core
