#pragma once
// Archives of uncompressed content for the workbook tests and the fuzz targets: a zip archive of
// stored entries (the container of xlsx and OpenDocument files) and a gzip stream of stored
// deflate blocks (the wrapping of Gnumeric files). Stored, not compressed, so that the bytes a
// test or a mutation puts in stay where they were put. The checksums come from zlib.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dupsweep::testing {

namespace archive_detail {

inline std::uint32_t crc32Of(std::string_view data) {
  return static_cast<std::uint32_t>(
      ::crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline void put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

inline void put32(std::string& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

}  // namespace archive_detail

// A zip archive of uncompressed entries, in the given order.
inline std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  using archive_detail::put16;
  using archive_detail::put32;
  std::string out;
  std::string central;
  for (const auto& [name, data] : entries) {
    const auto offset = static_cast<std::uint32_t>(out.size());
    const std::uint32_t crc = archive_detail::crc32Of(data);
    const auto size = static_cast<std::uint32_t>(data.size());
    for (std::string* header : {&out, &central}) {
      const bool isCentral = header == &central;
      put32(*header, isCentral ? 0x02014b50 : 0x04034b50);
      if (isCentral) put16(*header, 20);  // version made by
      put16(*header, 20);                 // version needed
      put16(*header, 0);                  // flags
      put16(*header, 0);                  // stored
      put16(*header, 0);                  // time
      put16(*header, 0x21);               // date: 1980-01-01
      put32(*header, crc);
      put32(*header, size);
      put32(*header, size);
      put16(*header, static_cast<std::uint32_t>(name.size()));
      put16(*header, 0);  // extra
      if (isCentral) {
        put16(*header, 0);  // comment
        put16(*header, 0);  // disk
        put16(*header, 0);  // internal attributes
        put32(*header, 0);  // external attributes
        put32(*header, offset);
      }
      *header += name;
    }
    out += data;
  }
  const auto centralOffset = static_cast<std::uint32_t>(out.size());
  out += central;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<std::uint32_t>(entries.size()));
  put16(out, static_cast<std::uint32_t>(entries.size()));
  put32(out, static_cast<std::uint32_t>(central.size()));
  put32(out, centralOffset);
  put16(out, 0);
  return out;
}

// `data` in the gzip format, as stored deflate blocks.
inline std::string gzipStored(std::string_view data) {
  using archive_detail::put16;
  using archive_detail::put32;
  std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(data.size() - pos, 65535);
    out += static_cast<char>(pos + n == data.size() ? 1 : 0);
    put16(out, static_cast<std::uint32_t>(n));
    put16(out, static_cast<std::uint32_t>(~n & 0xFFFF));
    out.append(data.substr(pos, n));
    pos += n;
  } while (pos < data.size());
  put32(out, archive_detail::crc32Of(data));
  put32(out, static_cast<std::uint32_t>(data.size()));
  return out;
}

}  // namespace dupsweep::testing
