// The zip packages of xlsx and OpenDocument files: their entries read by name, checked before
// any XML parser sees them, and the package of checked entries that liborcus reads instead.

#include <zlib.h>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>

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

struct ZipPackage::Archive {
  explicit Archive(std::string_view bytes)
      : stream(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        archive(&stream) {}
  orcus::zip_archive_stream_blob stream;
  orcus::zip_archive archive;
};

ZipPackage::ZipPackage(std::string_view bytes) : archive_(std::make_unique<Archive>(bytes)) {
  archive_->archive.load();
  for (std::size_t i = 0; i < archive_->archive.get_file_entry_count(); ++i) {
    const std::string name(archive_->archive.get_file_entry_name(i));
    names_.try_emplace(lowered(name), name);
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
  std::vector<unsigned char> entry;
  if (!archive_->archive.read_file_entry(*real, entry)) return std::nullopt;
  std::string text(entry.begin(), entry.end());
  // liborcus adds a terminating zero to what it reads.
  if (!text.empty() && text.back() == '\0') text.pop_back();
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
