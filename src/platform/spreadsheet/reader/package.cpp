// The zip packages of xlsx and OpenDocument files: their entries read by name (through zlib),
// checked before any XML parser sees them, and the package of checked entries that liborcus reads
// instead.

#include <zlib.h>

#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdint>

#include "platform/errors.h"
#include "platform/spreadsheet/orcus_guard.h"
#include "platform/spreadsheet/reader/internal.h"

namespace dupsweep::sheet::reader {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

void put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// XML in UTF-16 (with its byte order mark), which some programs write, as UTF-8 with the
// declaration saying so; liborcus reads 8-bit encodings only. Other text is returned as it is.
std::string fromUtf16(std::string text) {
  const bool little = text.starts_with("\xFF\xFE");
  if (!little && !text.starts_with("\xFE\xFF")) return text;
  std::u16string units;
  units.reserve(text.size() / 2);
  for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
    const auto a = static_cast<unsigned char>(text[i]);
    const auto b = static_cast<unsigned char>(text[i + 1]);
    units += static_cast<char16_t>(little ? (a | (b << 8)) : ((a << 8) | b));
  }
  std::string utf8 = QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()))
                         .toUtf8()
                         .toStdString();
  if (utf8.starts_with("<?xml")) {
    const std::size_t end = utf8.find("?>");
    const std::size_t at = utf8.find("encoding=", 0);
    if (end != std::string::npos && at != std::string::npos && at < end && at + 9 < end) {
      const char quote = utf8[at + 9];
      const std::size_t close = utf8.find(quote, at + 10);
      if (close != std::string::npos && close < end) utf8.replace(at + 10, close - at - 10, "UTF-8");
    }
  }
  return utf8;
}

}  // namespace

bool isZip(std::string_view bytes) {
  return bytes.starts_with("PK\x03\x04") || bytes.starts_with("PK\x05\x06");
}

namespace {

std::uint32_t le16(std::string_view b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t le32(std::string_view b, std::size_t at) {
  return le16(b, at) | (le16(b, at + 2) << 16);
}

// The size from which an entry must not expand beyond a hundredfold.
constexpr std::uint64_t kMaxExpandingEntry = 8u << 20;

[[noreturn]] void broken(const std::string& why) {
  throw FormatError("the zip archive " + why);
}

}  // namespace

// The archive's directory: where each entry's data lies, how it is stored and how large it is.
struct ZipPackage::Archive {
  struct Entry {
    std::size_t data = 0;
    std::uint32_t method = 0;
    std::uint32_t flags = 0;
    std::uint64_t compressed = 0;
    std::uint64_t size = 0;
  };
  std::string_view bytes;
  std::unordered_map<std::string, Entry> entries;  // by the archive's own name
};

ZipPackage::ZipPackage(std::string_view bytes) : archive_(std::make_unique<Archive>()) {
  archive_->bytes = bytes;
  const std::size_t end = bytes.rfind("PK\x05\x06");
  if (end == std::string_view::npos || end + 22 > bytes.size()) broken("has no directory");
  const std::size_t count = le16(bytes, end + 10);
  std::size_t at = le32(bytes, end + 16);
  for (std::size_t i = 0; i < count; ++i) {
    if (at + 46 > bytes.size() || le32(bytes, at) != 0x02014b50) broken("directory is truncated");
    Archive::Entry entry;
    entry.flags = le16(bytes, at + 8);
    entry.method = le16(bytes, at + 10);
    entry.compressed = le32(bytes, at + 20);
    entry.size = le32(bytes, at + 24);
    const std::size_t nameLength = le16(bytes, at + 28);
    const std::size_t extraLength = le16(bytes, at + 30);
    const std::size_t commentLength = le16(bytes, at + 32);
    const std::size_t local = le32(bytes, at + 42);
    if (at + 46 + nameLength > bytes.size()) broken("directory is truncated");
    const std::string name(bytes.substr(at + 46, nameLength));
    if (local + 30 > bytes.size() || le32(bytes, local) != 0x04034b50)
      broken("entry " + name + " lies outside the archive");
    entry.data = local + 30 + le16(bytes, local + 26) + le16(bytes, local + 28);
    if (entry.size > kMaxZipEntrySize) broken("entry " + name + " is larger than is read");
    if (entry.data > bytes.size() || entry.compressed > bytes.size() - entry.data)
      broken("entry " + name + " lies outside the archive");
    names_.try_emplace(lowered(name), name);
    archive_->entries.try_emplace(name, entry);
    at += 46 + nameLength + extraLength + commentLength;
  }
}

ZipPackage::~ZipPackage() = default;

std::optional<std::string> ZipPackage::entryName(std::string_view name) const {
  while (name.starts_with('/')) name.remove_prefix(1);
  const auto it = names_.find(lowered(name));
  if (it == names_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> ZipPackage::raw(std::string_view name) const {
  const auto real = entryName(name);
  if (!real) return std::nullopt;
  const Archive::Entry& entry = archive_->entries.at(*real);
  if (entry.flags & 1) broken("entry " + *real + " is encrypted");
  // XML of real workbooks shrinks some tenfold, rarely beyond fiftyfold; a large entry that
  // expands more than a hundredfold is made to exhaust the reader (a zip bomb).
  if (entry.size > kMaxExpandingEntry && entry.size / 100 > entry.compressed)
    broken("entry " + *real + " expands more than a hundredfold");
  const std::string_view data = archive_->bytes.substr(entry.data, entry.compressed);
  std::string text;
  // Room for the zero bytes that parsing appends (see parseXml in xlsxcells.cpp).
  text.reserve(entry.size + 16);
  if (entry.method == 0) {
    text.assign(data.substr(0, entry.size));
  } else if (entry.method == 8) {
    text.resize(entry.size);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(text.data());
    z.avail_out = static_cast<uInt>(text.size());
    const int rc = inflate(&z, Z_FINISH);
    const std::size_t produced = text.size() - z.avail_out;
    // A stream that goes on beyond the size the directory declares is a bomb, or broken.
    const bool more = rc == Z_BUF_ERROR && z.avail_out == 0 && z.avail_in > 0;
    inflateEnd(&z);
    if (more) broken("entry " + *real + " holds more than it declares");
    if (rc != Z_STREAM_END && rc != Z_BUF_ERROR) broken("entry " + *real + " is corrupt");
    text.resize(produced);
  } else {
    broken("entry " + *real + " is compressed by a method that is not read");
  }
  return fromUtf16(std::move(text));
}

std::optional<std::string> ZipPackage::xml(std::string_view name) const {
  auto text = raw(name);
  if (!text) return std::nullopt;
  if (std::string why = xmlPartHazard(*text); !why.empty())
    throw FormatError("zip entry " + *entryName(name) + ": " + why);
  return text;
}

std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out;
  std::string directory;
  for (const auto& [name, data] : entries) {
    const auto crc = static_cast<std::uint32_t>(
        ::crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    const auto offset = static_cast<std::uint32_t>(out.size());
    const auto size = static_cast<std::uint32_t>(data.size());
    put32(out, 0x04034b50);
    put16(out, 20);  // version needed
    put16(out, 0);   // flags
    put16(out, 0);   // stored
    put32(out, 0);   // time, date
    put32(out, crc);
    put32(out, size);
    put32(out, size);
    put16(out, static_cast<std::uint32_t>(name.size()));
    put16(out, 0);
    out += name;
    out += data;
    put32(directory, 0x02014b50);
    put16(directory, 20);
    put16(directory, 20);
    put16(directory, 0);
    put16(directory, 0);
    put32(directory, 0);
    put32(directory, crc);
    put32(directory, size);
    put32(directory, size);
    put16(directory, static_cast<std::uint32_t>(name.size()));
    put16(directory, 0);  // extra
    put16(directory, 0);  // comment
    put16(directory, 0);  // disk
    put16(directory, 0);  // internal attributes
    put32(directory, 0);  // external attributes
    put32(directory, offset);
    directory += name;
  }
  const auto directoryAt = static_cast<std::uint32_t>(out.size());
  out += directory;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<std::uint32_t>(entries.size()));
  put16(out, static_cast<std::uint32_t>(entries.size()));
  put32(out, static_cast<std::uint32_t>(directory.size()));
  put32(out, directoryAt);
  put16(out, 0);
  return out;
}

}  // namespace dupsweep::sheet::reader
