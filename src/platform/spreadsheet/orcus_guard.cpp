// The checks made on workbook bytes before liborcus reads them (see orcus_guard.h).
#include "platform/spreadsheet/orcus_guard.h"

#include <zlib.h>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

#include <QByteArray>
#include <QXmlStreamReader>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace dupsweep::sheet {
namespace {

constexpr std::string_view kGnumericNamespace = "http://www.gnumeric.org/v10.dtd";

std::uint32_t le16(std::string_view b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t le32(std::string_view b, std::size_t at) {
  return le16(b, at) | (le16(b, at + 2) << 16);
}

// ---- XML ----

// True when the library's XML parser would take `bytes` for XML: after a byte order mark and any
// bytes up to the space (which the parser skips), a '<'.
bool looksLikeXml(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const auto first = std::find_if(bytes.begin(), bytes.end(),
                                  [](char c) { return static_cast<unsigned char>(c) > 0x20; });
  return first != bytes.end() && *first == '<';
}

// Why the XML document `bytes` is unsafe, or "" when it is well-formed (and, with `gnumeric`, every
// Gnumeric sheet's name comes before anything else in the sheet).
std::string xmlHazard(std::string_view bytes, bool gnumeric) {
  QXmlStreamReader reader(QByteArray::fromRawData(
      bytes.data(), static_cast<qsizetype>(std::min<std::size_t>(bytes.size(), INT32_MAX))));
  struct OpenSheet {
    int depth;
    bool named;
  };
  std::vector<OpenSheet> sheets;
  int depth = 0;
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement: {
        const bool gnm = reader.namespaceUri() ==
                         QLatin1String(kGnumericNamespace.data(), kGnumericNamespace.size());
        if (gnumeric && !sheets.empty() && !sheets.back().named &&
            !(gnm && reader.name() == QLatin1String("Name") && depth == sheets.back().depth + 1))
          return "a Gnumeric sheet has content before its name";
        if (gnm && reader.name() == QLatin1String("Sheet")) sheets.push_back({depth, false});
        ++depth;
        break;
      }
      case QXmlStreamReader::EndElement:
        --depth;
        if (!sheets.empty() && depth == sheets.back().depth) {
          sheets.pop_back();
        } else if (!sheets.empty() && depth == sheets.back().depth + 1 &&
                   reader.name() == QLatin1String("Name") &&
                   reader.namespaceUri() ==
                       QLatin1String(kGnumericNamespace.data(), kGnumericNamespace.size())) {
          sheets.back().named = true;
        }
        break;
      default:
        break;
    }
  }
  if (reader.hasError())
    return "malformed XML (" + reader.errorString().toStdString() + ", line " +
           std::to_string(reader.lineNumber()) + ")";
  return {};
}

// ---- gzip ----

bool isGzip(std::string_view bytes) {
  return bytes.size() >= 2 && bytes[0] == '\x1F' && bytes[1] == '\x8B';
}

// Every member of gzip `bytes`, as far as they decompress; at most `limit` bytes (nullopt beyond).
std::optional<std::string> gunzip(std::string_view bytes, std::uint64_t limit) {
  std::string out;
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(bytes.size(), UINT32_MAX));
  std::vector<char> buffer(1 << 16);
  bool tooLarge = false;
  while (true) {
    z.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_out = static_cast<uInt>(buffer.size());
    const int rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer.data(), buffer.size() - z.avail_out);
    if (out.size() > limit) {
      tooLarge = true;
      break;
    }
    if (rc == Z_STREAM_END) {
      if (z.avail_in == 0 || inflateReset(&z) != Z_OK) break;  // another member may follow
    } else if (rc != Z_OK) {
      break;  // corrupt or truncated: what came out so far is all anyone can read
    }
  }
  inflateEnd(&z);
  if (tooLarge) return std::nullopt;
  return out;
}

// ---- zip ----

// Why the zip directory whose end record is at `end` is unsafe, or "".
std::string directoryHazard(std::string_view b, std::size_t end) {
  if (end + 22 > b.size()) return "a zip directory is truncated";
  std::size_t at = le32(b, end + 16);
  if (at + 4 > b.size()) return "a zip directory lies outside the archive";
  std::uint64_t total = 0;
  for (int entries = 0; at + 4 <= b.size() && le32(b, at) == 0x02014b50; ++entries) {
    if (entries > 65535) return "a zip archive has too many entries";
    if (at + 46 > b.size()) return "a zip directory is truncated";
    const std::uint64_t compressed = le32(b, at + 20);
    const std::uint64_t uncompressed = le32(b, at + 24);
    const std::size_t nameLength = le16(b, at + 28);
    const std::size_t extraLength = le16(b, at + 30);
    const std::size_t commentLength = le16(b, at + 32);
    const std::uint64_t local = le32(b, at + 42);
    if (uncompressed > kMaxZipEntrySize || compressed > b.size())
      return "a zip entry declares a size beyond what is read";
    total += uncompressed;
    if (total > kMaxZipTotalSize) return "a zip archive declares more data than is read";
    if (local + 30 > b.size()) return "a zip entry lies outside the archive";
    const std::uint64_t data = local + 30 + le16(b, local + 26) + le16(b, local + 28);
    if (data + compressed > b.size()) return "a zip entry lies outside the archive";
    at += 46 + nameLength + extraLength + commentLength;
    if (at > b.size()) return "a zip directory is truncated";
  }
  return {};
}

bool isXmlEntryName(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.ends_with(".xml") || lower.ends_with(".rels") || lower.ends_with(".vml");
}

// Why the zip archive `b` is unsafe, or "". Every end-of-directory record the library might find
// is checked, then every entry that holds XML.
std::string zipHazard(std::string_view b) {
  bool found = false;
  for (std::size_t at = b.rfind("PK\x05\x06"); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : b.rfind("PK\x05\x06", at - 1)) {
    found = true;
    if (std::string why = directoryHazard(b, at); !why.empty()) return why;
  }
  if (!found) return {};

  try {
    orcus::zip_archive_stream_blob stream(reinterpret_cast<const std::uint8_t*>(b.data()),
                                          b.size());
    orcus::zip_archive archive(&stream);
    archive.load();
    for (std::size_t i = 0; i < archive.get_file_entry_count(); ++i) {
      const std::string name(archive.get_file_entry_name(i));
      std::vector<unsigned char> entry;
      try {
        if (!archive.read_file_entry(name, entry)) continue;
      } catch (const std::bad_alloc&) {
        throw;
      } catch (const std::exception&) {
        continue;  // an entry that cannot be read is refused by the library as well
      }
      // The library adds a terminating zero to what it reads.
      std::string_view text(reinterpret_cast<const char*>(entry.data()), entry.size());
      if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
      if (!isXmlEntryName(name) && !looksLikeXml(text)) continue;
      if (std::string why = xmlHazard(text, false); !why.empty())
        return "zip entry " + name + ": " + why;
    }
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    // Not a readable archive: the library refuses it the same way.
  }
  return {};
}

}  // namespace

std::string orcusHazard(std::string_view bytes) {
  if (std::string why = zipHazard(bytes); !why.empty()) return why;
  if (isGzip(bytes)) {
    const auto xml = gunzip(bytes, kMaxZipEntrySize);
    if (!xml) return "the compressed content is larger than is read";
    if (looksLikeXml(*xml)) {
      if (std::string why = xmlHazard(*xml, true); !why.empty()) return why;
    }
  }
  if (looksLikeXml(bytes)) return xmlHazard(bytes, false);
  return {};
}

}  // namespace dupsweep::sheet
