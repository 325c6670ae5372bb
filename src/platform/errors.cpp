// What every system shares: the pending-error slot and the stored code of a
// system failure, named by its Windows code.
#include "platform/platform.h"

namespace korvella::platform {
namespace {

std::uint16_t pendingIoError = 0;

}  // namespace

bool IoErrorPending() { return pendingIoError != 0; }

std::uint16_t TakeIoError() {
  const std::uint16_t code = pendingIoError;
  pendingIoError = 0;
  return code;
}

void StoreIoError(std::uint16_t code) {
  if (pendingIoError == 0) pendingIoError = code;
}

std::uint16_t TranslateSystemError(std::uint32_t windowsCode) {
  constexpr std::uint16_t kGeneralFailure = 31 + 131;
  std::uint16_t stored = 0;
  if (windowsCode < 19) {
    stored = static_cast<std::uint16_t>(windowsCode);
  } else if (windowsCode <= 31) {
    stored = static_cast<std::uint16_t>(windowsCode + 131);
  } else {
    switch (windowsCode) {
      case 32:   // sharing violation
      case 145:  // directory not empty
      case 183:  // already exists
        stored = kSharingViolation;
        break;
      case 112: stored = kWriteFailed; break;  // disk full
      default: stored = static_cast<std::uint16_t>(windowsCode & 0xFFFF);
    }
  }
  return stored != 0 ? stored : kGeneralFailure;
}

}  // namespace korvella::platform
