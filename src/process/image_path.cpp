#include "process/image_path.h"

#include "base/path.h"
#include "base/text.h"
#include "base/unicode_lower.h"

namespace talvex {

std::string normalize_image_path(std::u16string_view path) {
  // Only the verbatim prefix goes: "\\?\UNC\server\share" keeps its "UNC\", so it never equals
  // the "\\server\share" form a process reports.
  if (path.substr(0, kVerbatimPrefix.size()) == kVerbatimPrefix) {
    path.remove_prefix(kVerbatimPrefix.size());
  }
  return unicode_to_lower(to_utf8(path));
}

}  // namespace talvex
