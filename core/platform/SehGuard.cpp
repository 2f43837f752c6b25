#include "core/platform/SehGuard.h"

#include "core/platform/SehGuardImpl.h"

namespace core {

bool RunGuarded(void (*body)(void*), void* context, std::uint32_t* exceptionCode) noexcept {
  std::uint32_t code = 0;
  const bool raised = core_SehInvoke(body, context, &code) != 0;
  if (exceptionCode != nullptr) *exceptionCode = raised ? code : 0;
  return !raised;
}

}  // namespace core
