// Bytes from the environment or the command line, shown in a diagnostic: a
// path, a setting or an argument that holds terminal escape sequences must
// not drive the operator's terminal.
#pragma once

#include <string>
#include <string_view>

namespace wdt {

// Printable ASCII as it is, a backslash doubled, every other byte as \xNN.
inline std::string Printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      shown += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7f) {
      shown += c;
    } else {
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
    }
  }
  return shown;
}

}  // namespace wdt
