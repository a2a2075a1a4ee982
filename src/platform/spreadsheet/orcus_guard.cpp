// The checks made on workbook bytes before liborcus reads them (see orcus_guard.h).
#include "platform/spreadsheet/orcus_guard.h"

#include <zlib.h>

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

// A check of XML in the plain form that workbooks are written in, much faster than Qt's reader
// (which makes UTF-16 of every character): UTF-8, no document type, names of ASCII characters,
// the predefined entities. It says that a document is well-formed only when it surely is, also to
// Qt's reader with namespaces; anything outside that form, and every fault, is left to Qt's
// reader, so that its verdict and its message stand.
class PlainXml {
 public:
  explicit PlainXml(std::string_view bytes) : p_(bytes.data()), end_(bytes.data() + bytes.size()) {}

  bool wellFormed() {
    if (rest().starts_with("\xEF\xBB\xBF")) p_ += 3;
    if (rest().starts_with("<?xml") && rest().size() > 5 && isSpace(p_[5]) && !declaration())
      return false;
    bool root = false;  // the root element has been read
    while (true) {
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ == end_) return root;
      if (*p_ != '<') return false;  // text outside the root element
      if (rest().starts_with("<!--")) {
        if (!comment()) return false;
      } else if (rest().starts_with("<?")) {
        if (!instruction()) return false;
      } else if (!root && p_ + 1 < end_ && isNameStart(p_[1])) {
        if (!element()) return false;
        root = true;
      } else {
        return false;  // a document type, a second root, or no markup at all
      }
    }
  }

 private:
  struct Attribute {
    std::string_view name;
    std::string_view value;
  };

  static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  static bool isNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
  }
  static bool isNameChar(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
  }
  std::string_view rest() const { return {p_, static_cast<std::size_t>(end_ - p_)}; }

  // One character of text at p_ other than markup and references: a character XML allows, in
  // valid UTF-8 (no surrogate, no U+FFFE or U+FFFF). Advances past it.
  bool character() {
    const auto c = static_cast<unsigned char>(*p_);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      ++p_;
      return true;
    }
    auto at = [&](std::ptrdiff_t i) -> unsigned {
      return p_ + i < end_ ? static_cast<unsigned char>(p_[i]) : 0u;
    };
    auto follows = [](unsigned b) { return (b & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF && follows(at(1))) {
      p_ += 2;
      return true;
    }
    if (c >= 0xE0 && c <= 0xEF && follows(at(1)) && follows(at(2))) {
      if (c == 0xE0 && at(1) < 0xA0) return false;                    // overlong
      if (c == 0xED && at(1) >= 0xA0) return false;                   // a surrogate
      if (c == 0xEF && at(1) == 0xBF && at(2) >= 0xBE) return false;  // U+FFFE, U+FFFF
      p_ += 3;
      return true;
    }
    if (c >= 0xF0 && c <= 0xF4 && follows(at(1)) && follows(at(2)) && follows(at(3))) {
      if (c == 0xF0 && at(1) < 0x90) return false;   // overlong
      if (c == 0xF4 && at(1) >= 0x90) return false;  // beyond U+10FFFF
      p_ += 4;
      return true;
    }
    return false;
  }

  // Characters up to `close`, which is passed over; false without it, for a character XML does
  // not allow, or for `forbidden` in between.
  bool charactersUntil(std::string_view close, std::string_view forbidden = {}) {
    while (p_ < end_) {
      if (rest().starts_with(close)) {
        p_ += close.size();
        return true;
      }
      if (!forbidden.empty() && rest().starts_with(forbidden)) return false;
      if (!character()) return false;
    }
    return false;
  }

  std::string_view name() {
    const char* start = p_;
    if (p_ == end_ || !isNameStart(*p_)) return {};
    while (p_ < end_ && isNameChar(*p_)) ++p_;
    return {start, static_cast<std::size_t>(p_ - start)};
  }

  // A reference after '&': one of the five predefined entities, or a character reference to a
  // character XML allows.
  bool reference() {
    ++p_;
    for (std::string_view entity : {"lt;", "gt;", "amp;", "quot;", "apos;"})
      if (rest().starts_with(entity)) {
        p_ += entity.size();
        return true;
      }
    if (!rest().starts_with("#")) return false;
    ++p_;
    const bool hex = p_ < end_ && *p_ == 'x';
    if (hex) ++p_;
    std::uint32_t code = 0;
    int digits = 0;
    for (; p_ < end_ && *p_ != ';'; ++p_, ++digits) {
      const char c = *p_;
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f') digit = (c | 0x20) - 'a' + 10;
      if (digit < 0 || digits >= 8) return false;
      code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    }
    if (p_ == end_ || digits == 0) return false;
    ++p_;
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
  }

  // `<?xml version="1.0" encoding="UTF-8" standalone="yes"?>`, the last two optional.
  bool declaration() {
    p_ += 5;
    auto pseudoAttribute = [&](std::string_view key, std::string_view& value) {
      const char* start = p_;
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ == start || !rest().starts_with(key)) {
        p_ = start;
        return false;
      }
      p_ += key.size();
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ == end_ || *p_ != '=') return false;
      ++p_;
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return false;
      const char quote = *p_++;
      const char* from = p_;
      while (p_ < end_ && *p_ != quote) ++p_;
      if (p_ == end_) return false;
      value = {from, static_cast<std::size_t>(p_ - from)};
      ++p_;
      return true;
    };
    std::string_view version, encoding, standalone;
    if (!pseudoAttribute("version", version) || version != "1.0") return false;
    if (pseudoAttribute("encoding", encoding)) {
      if (encoding.size() != 5) return false;
      for (std::size_t i = 0; i < 5; ++i) {
        const char c = encoding[i] >= 'A' && encoding[i] <= 'Z' ? encoding[i] + 32 : encoding[i];
        if (c != "utf-8"[i]) return false;
      }
    }
    if (pseudoAttribute("standalone", standalone) && standalone != "yes" && standalone != "no")
      return false;
    while (p_ < end_ && isSpace(*p_)) ++p_;
    if (!rest().starts_with("?>")) return false;
    p_ += 2;
    return true;
  }

  bool comment() {
    p_ += 4;
    // No "--" inside, and none ending the text before "-->".
    return charactersUntil("-->", "--");
  }

  bool instruction() {
    p_ += 2;
    const std::string_view target = name();
    if (target.empty() || target.find(':') != std::string_view::npos) return false;
    if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
        (target[2] | 0x20) == 'l')
      return false;  // a declaration anywhere but at the start
    if (rest().starts_with("?>")) {
      p_ += 2;
      return true;
    }
    if (p_ == end_ || !isSpace(*p_)) return false;
    return charactersUntil("?>");
  }

  // A qualified name: a local part, or one prefix and a local part, neither empty.
  static bool qualified(std::string_view n, std::string_view& prefix, std::string_view& local) {
    const std::size_t colon = n.find(':');
    if (colon == std::string_view::npos) {
      prefix = {};
      local = n;
      return true;
    }
    prefix = n.substr(0, colon);
    local = n.substr(colon + 1);
    return !prefix.empty() && !local.empty() && local.find(':') == std::string_view::npos &&
           isNameStart(local[0]) && local[0] != ':';
  }

  // The namespace name of a declared prefix (the innermost declaration).
  std::string_view uriOf(std::string_view prefix) const {
    for (auto it = prefixes_.rbegin(); it != prefixes_.rend(); ++it)
      if (it->prefix == prefix) return it->uri;
    return prefix == "xml" ? std::string_view("http://www.w3.org/XML/1998/namespace") : prefix;
  }

  bool declared(std::string_view prefix) const {
    if (prefix.empty() || prefix == "xml") return true;
    return std::any_of(prefixes_.begin(), prefixes_.end(),
                       [&](const Prefix& entry) { return entry.prefix == prefix; });
  }

  // An element from its '<' to its end tag, with everything inside. Nested elements are read in
  // this loop, so that deep nesting needs no stack of calls.
  bool element() {
    std::vector<std::string_view> open;
    do {
      if (rest().starts_with("</")) {
        p_ += 2;
        const std::string_view closing = name();
        while (p_ < end_ && isSpace(*p_)) ++p_;
        if (p_ == end_ || *p_ != '>' || open.empty() || closing != open.back()) return false;
        ++p_;
        open.pop_back();
        while (!prefixes_.empty() && prefixes_.back().depth > open.size()) prefixes_.pop_back();
      } else if (rest().starts_with("<!--")) {
        if (!comment()) return false;
      } else if (rest().starts_with("<![CDATA[")) {
        p_ += 9;
        if (!charactersUntil("]]>")) return false;
      } else if (rest().starts_with("<?")) {
        if (!instruction()) return false;
      } else if (rest().starts_with("<")) {
        ++p_;
        bool empty = false;
        const std::string_view tag = startTag(open.size() + 1, empty);
        if (tag.empty()) return false;
        if (!empty) {
          open.push_back(tag);
        } else {
          while (!prefixes_.empty() && prefixes_.back().depth > open.size()) prefixes_.pop_back();
        }
      } else {
        // Text up to the next markup.
        while (p_ < end_ && *p_ != '<') {
          if (*p_ == '&') {
            if (!reference()) return false;
          } else if (*p_ == ']' && rest().starts_with("]]>")) {
            return false;
          } else if (!character()) {
            return false;
          }
        }
        if (p_ == end_) return false;
      }
    } while (!open.empty());
    return true;
  }

  // The rest of a start tag after '<'; its name, or an empty name when it is not well-formed.
  // `depth` is the element's own depth, at which the prefixes it declares are kept.
  std::string_view startTag(std::size_t depth, bool& empty) {
    const std::string_view tag = name();
    if (tag.empty()) return {};
    attributes_.clear();
    while (true) {
      const char* before = p_;
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ == end_) return {};
      if (*p_ == '>' || rest().starts_with("/>")) {
        empty = *p_ == '/';
        p_ += empty ? 2 : 1;
        break;
      }
      if (p_ == before) return {};  // attributes are parted by blanks
      const std::string_view attribute = name();
      if (attribute.empty()) return {};
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ == end_ || *p_ != '=') return {};
      ++p_;
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return {};
      const char quote = *p_++;
      const char* from = p_;
      while (p_ < end_ && *p_ != quote) {
        if (*p_ == '<') return {};
        if (*p_ == '&') {
          if (!reference()) return {};
        } else if (!character()) {
          return {};
        }
      }
      if (p_ == end_) return {};
      attributes_.push_back({attribute, {from, static_cast<std::size_t>(p_ - from)}});
      ++p_;
    }
    // Namespaces as Qt's reader checks them: the prefixes the tag declares count for the tag
    // itself; a prefix must be declared before it is used; no attribute comes twice (the same
    // local name in the same namespace, also through two prefixes of one namespace name).
    for (const Attribute& a : attributes_) {
      std::string_view prefix, local;
      if (!qualified(a.name, prefix, local)) return {};
      if (prefix == "xmlns") {
        if (local == "xml" || local == "xmlns" || a.value.empty()) return {};
        prefixes_.push_back({local, a.value, depth});
      } else if (a.name == "xmlns" && a.value.empty()) {
        return {};
      }
    }
    std::string_view prefix, local;
    if (!qualified(tag, prefix, local) || prefix == "xmlns" || !declared(prefix)) return {};
    for (std::size_t i = 0; i < attributes_.size(); ++i) {
      std::string_view aPrefix, aLocal;
      qualified(attributes_[i].name, aPrefix, aLocal);
      if (aPrefix != "xmlns" && !declared(aPrefix)) return {};
      for (std::size_t j = 0; j < i; ++j) {
        std::string_view bPrefix, bLocal;
        qualified(attributes_[j].name, bPrefix, bLocal);
        if (aLocal != bLocal || aPrefix.empty() != bPrefix.empty()) continue;
        // Namespace names with references are compared by Qt's reader itself.
        const std::string_view aUri = uriOf(aPrefix), bUri = uriOf(bPrefix);
        if (aPrefix == bPrefix || aUri == bUri || aUri.find('&') != std::string_view::npos ||
            bUri.find('&') != std::string_view::npos)
          return {};
      }
    }
    return tag;
  }

  const char* p_;
  const char* end_;
  std::vector<Attribute> attributes_;
  // The prefixes declared by the open elements, each with its namespace name and the depth of
  // the element declaring it.
  struct Prefix {
    std::string_view prefix;
    std::string_view uri;
    std::size_t depth;
  };
  std::vector<Prefix> prefixes_;
};

}  // namespace

bool plainlyWellFormedXml(std::string_view bytes) {
  return PlainXml(bytes).wellFormed();
}

namespace {

// Why the XML document `bytes` is unsafe, or "" when it is well-formed (and, with `gnumeric`, every
// Gnumeric sheet's name comes before anything else in the sheet).
std::string xmlHazard(std::string_view bytes, bool gnumeric) {
  if (!gnumeric && plainlyWellFormedXml(bytes)) return {};
  // A document type declaration is where entities are defined; nested ones expand a few
  // kilobytes into gigabytes (and Qt's reader spends minutes on it). No workbook needs one.
  if (memmem(bytes.data(), bytes.size(), "<!DOCTYPE", 9) != nullptr)
    return "a document type declaration (entity definitions are not read)";
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

}  // namespace

std::string xmlPartHazard(std::string_view bytes) {
  return xmlHazard(bytes, false);
}

std::string zipDirectoryHazard(std::string_view b) {
  for (std::size_t at = b.rfind("PK\x05\x06"); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : b.rfind("PK\x05\x06", at - 1)) {
    if (std::string why = directoryHazard(b, at); !why.empty()) return why;
  }
  return {};
}

std::string orcusHazard(std::string_view bytes) {
  // The entries of a zip package are checked one by one as the package readers take them
  // (xmlPartHazard); liborcus sees only a package made of checked entries.
  if (std::string why = zipDirectoryHazard(bytes); !why.empty()) return why;
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
