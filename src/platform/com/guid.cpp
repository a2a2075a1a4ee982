// GUID text forms and HRESULT display.
#include <cstdio>

#include "platform/com/com.h"

namespace dupsweep::com {

std::string hresultToString(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X",
                static_cast<unsigned>(static_cast<std::uint32_t>(hr)));
  return buffer;
}

std::string guidToString(const GUID& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buffer;
}

std::optional<GUID> parseGuid(std::string_view text) noexcept {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  // Hex digits of the 8-4-4-4-12 groups, dashes checked in place.
  std::uint8_t bytes[16];
  std::size_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (text[pos] != '-') return std::nullopt;
      ++pos;
    }
    int value = 0;
    for (int k = 0; k < 2; ++k, ++pos) {
      const char c = text[pos];
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        return std::nullopt;
      value = value * 16 + d;
    }
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  GUID g{};
  g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
            (std::uint32_t{bytes[2]} << 8) | bytes[3];
  g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}

}  // namespace dupsweep::com
