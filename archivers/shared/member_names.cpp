#include "member_names.h"

namespace tavrun::arc {

bool HasControlCharacter(std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

std::string ControlCharacterRefusal(const std::string& path) {
  return "the file name contains a control character (tab, line break or the like), which no "
         "member name may hold; not added: " +
         path;
}

}  // namespace tavrun::arc
