#include "core/util/PathText.h"

namespace core {

std::string NormalizePath(std::string_view path, bool keepTrailingBackslash, bool slashesToBackslashes) {
  std::string result(path);
  if (result.empty()) return result;
  if (slashesToBackslashes) {
    for (char& c : result) {
      if (c == '/') c = '\\';
    }
  }
  if (result.back() != '\\') result += '\\';
  if (!keepTrailingBackslash) result.pop_back();
  return result;
}

}  // namespace core
