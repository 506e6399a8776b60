#include "process/app_claim.h"

#include "base/text.h"
#include "process/image_path.h"

namespace talvex {
namespace {

// 64-bit FNV-1a: enough to keep the paths of one user's applications apart, which is all the
// name must do (a user who wants to block their own updates needs no collision for that).
std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 0x100000001b3u;
  }
  return hash;
}

std::u16string hex16(std::uint64_t value) {
  std::u16string digits(16, u'0');
  for (auto it = digits.rbegin(); it != digits.rend(); ++it, value >>= 4) {
    *it = u"0123456789abcdef"[value & 0xF];
  }
  return digits;
}

}  // namespace

std::u16string app_claim_name(std::u16string_view app_exe) {
  // "Local\" keeps the claim inside the logon session; the byte count beside the hash makes a
  // collision need two paths of one length as well.
  const std::string path = normalize_image_path(app_exe);
  return u"Local\\talvex-updater-" + hex16(fnv1a(path)) + u"-" + to_utf16(decimal(path.size()));
}

}  // namespace talvex
