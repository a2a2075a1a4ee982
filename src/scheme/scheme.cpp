#include "scheme/scheme.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

// Narrow, case-insensitive reader on UTF-8. Debian's SimpleIni.h keeps its template bodies behind
// SI_IMPLEMENTATION; this one file compiles them.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace dupsweep::scheme {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kExtension = ".Unitdata";

// The writer's and the reader's spellings differ in letter case only, which INI look-ups ignore.
struct SideKeys {
  const char* codeWritten;
  const char* codeRead;
  const char* name;
  const char* id;
  const char* level;
};
constexpr BySide<SideKeys> kKeys{{
    {"UnitcodeS", "UnitCodeS", "UnitNameS", "UnitIDS", "nLevelS"},
    {"UnitcodeD", "UnitCodeD", "UnitNameD", "UnitIDD", "nLevelD"},
}};

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Optional sign; anything else (overflow included) gives 0. The reader has trimmed the blanks.
std::int32_t toInt32(const char* value) {
  std::string_view v = value != nullptr ? value : "";
  if (!v.empty() && v.front() == '+') {
    v.remove_prefix(1);
    if (!v.empty() && (v.front() == '+' || v.front() == '-')) return 0;
  }
  std::int32_t result = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), result);
  return ec == std::errc() && end == v.data() + v.size() ? result : 0;
}

// The file's text as UTF-8, or nothing with `why` when it cannot be a scheme file. Converting
// before parsing keeps the reader's bracket, '=' and case handling off second bytes of GB18030.
std::optional<std::string> readSchemeText(const std::string& path, std::string* why) noexcept {
  static constexpr const char* kTooLarge = "it is larger than the limit of 16 MiB";
  static_assert(kMaxSchemeFileSize == 16u * 1024u * 1024u, "the message names the limit");
  auto refuse = [why](const char* reason) -> std::optional<std::string> {
    if (why != nullptr) *why = reason;
    return std::nullopt;
  };
  try {
    std::error_code ec;
    const fs::path file(path);
    if (!fs::exists(file, ec) || ec) return refuse("the file does not exist");
    // A FIFO or device of that name would block or never end; only regular files are read.
    if (!fs::is_regular_file(file, ec) || ec) return refuse("it is not a regular file");
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) return refuse("its size cannot be read");
    if (size > kMaxSchemeFileSize) return refuse(kTooLarge);
    std::string bytes;
    try {
      bytes = files::readFile(file);
    } catch (const FileError&) {
      return refuse("it cannot be read");
    }
    if (bytes.size() > kMaxSchemeFileSize) return refuse(kTooLarge);
    // Read as GB18030, a byte-order mark swallows the first section header and its pair.
    if (bytes.starts_with("\xEF\xBB\xBF"))
      return refuse("it begins with a UTF-8 byte-order mark; scheme files are GB18030 text");
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))
      return refuse("it begins with a UTF-16 byte-order mark; scheme files are GB18030 text");
    if (bytes.find('\0') != std::string::npos)
      return refuse("it holds NUL bytes, so it is no text file");
    try {
      return text::gb18030ToUtf8(bytes);
    } catch (const FormatError&) {
      return refuse("it is not GB18030 text");
    }
  } catch (const Error&) {
    return refuse("its text cannot be converted");
  } catch (const std::bad_alloc&) {
    return refuse("there is not enough memory to read it");
  }
}

bool isIniSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// As SimpleIni compares it: trimmed, ASCII letters in lower case.
std::string sectionKey(std::string_view name) {
  while (!name.empty() && isIniSpace(name.front())) name.remove_prefix(1);
  while (!name.empty() && isIniSpace(name.back())) name.remove_suffix(1);
  std::string key(name);
  for (char& c : key) c = asciiLower(c);
  return key;
}

// SimpleIni ends a section name at its first ']', but a GroupName may hold one ("甲[一]"). So each
// header goes to SimpleIni as its own numbered placeholder (also a repeated one, so no sections
// merge), the name being up to the line's last ']', trimmed; `names` maps placeholders back.
std::string withPlaceholderSections(std::string_view text,
                                    std::vector<std::pair<std::string, std::string>>& names) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    end = end == std::string_view::npos ? text.size() : end;
    std::string_view line = text.substr(0, end);
    std::size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    const std::size_t close = line.rfind(']');
    if (start < line.size() && line[start] == '[' && close != std::string_view::npos &&
        close > start) {
      std::string_view name = line.substr(start + 1, close - start - 1);
      while (!name.empty() && isIniSpace(name.front())) name.remove_prefix(1);
      while (!name.empty() && isIniSpace(name.back())) name.remove_suffix(1);
      if (!name.empty()) {
        names.emplace_back("#" + std::to_string(names.size()), std::string(name));
        line = {};
        out.append("[").append(names.back().first).append("]");
      }
    }
    out.append(line);
    text.remove_prefix(end);
    const std::size_t breakLength = text.starts_with("\r\n") ? 2 : (text.empty() ? 0 : 1);
    out.append(text.substr(0, breakLength));
    text.remove_prefix(breakLength);
  }
  return out;
}

// Section names replaced as withPlaceholderSections says; false when not a scheme file.
bool loadIni(const std::string& path, CSimpleIniA& ini,
             std::vector<std::pair<std::string, std::string>>& names,
             std::string* why = nullptr) noexcept {
  try {
    std::optional<std::string> content = readSchemeText(path, why);
    if (!content) return false;
    ini.SetUnicode(true);
    ini.SetMultiKey(false);
    ini.SetMultiLine(false);
    return ini.LoadData(withPlaceholderSections(*content, names)) >= 0;
  } catch (const std::exception&) {
    return false;  // out of memory
  }
}

std::string realSectionName(const char* section,
                            const std::vector<std::pair<std::string, std::string>>& names) {
  std::size_t index = 0;
  const std::string_view text(section);
  if (text.starts_with('#')) {
    const auto [end, ec] = std::from_chars(text.data() + 1, text.data() + text.size(), index);
    if (ec == std::errc() && end == text.data() + text.size() && index < names.size())
      return names[index].second;
  }
  return std::string(text);
}

// Keys before the first header (and a "[]" header) land in an unnamed section, left out.
std::vector<const char*> sectionsInFileOrder(const CSimpleIniA& ini) {
  CSimpleIniA::TNamesDepend names;
  ini.GetAllSections(names);
  names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<const char*> sections;
  for (const auto& entry : names) {
    if (entry.pItem != nullptr && *entry.pItem != '\0') sections.push_back(entry.pItem);
  }
  return sections;
}

TUnitData readUnit(const CSimpleIniA& ini, const char* section, const SideKeys& keys) {
  TUnitData unit;
  unit.sUnitCode = ini.GetValue(section, keys.codeRead, "");
  unit.sUnitName = ini.GetValue(section, keys.name, "");
  unit.nUnitID = toInt32(ini.GetValue(section, keys.id, nullptr));
  unit.nLevel = toInt32(ini.GetValue(section, keys.level, nullptr));
  return unit;
}

bool breaksLine(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void appendUnit(std::string& out, const TUnitData& unit, const SideKeys& keys) {
  out.append(keys.codeWritten).append("=").append(unit.sUnitCode).append("\r\n");
  out.append(keys.name).append("=").append(unit.sUnitName).append("\r\n");
  out.append(keys.id).append("=").append(std::to_string(unit.nUnitID)).append("\r\n");
  out.append(keys.level).append("=").append(std::to_string(unit.nLevel)).append("\r\n");
}

std::string withSeparator(const std::string& directory) {
  return directory.empty() || directory.back() == '/' ? directory : directory + '/';
}

}  // namespace

std::string schemePath(const std::string& directory, const std::string& name) {
  return withSeparator(directory).append(name).append(kExtension);
}

std::string schemeNameOf(const std::string& fileName) {
  std::string_view rest = fileName;
  if (std::size_t slash = rest.rfind('/'); slash != std::string_view::npos) {
    rest.remove_prefix(slash + 1);
  }
  std::string name;
  for (std::size_t at; (at = rest.find(kExtension)) != std::string_view::npos;) {
    name.append(rest.substr(0, at));
    rest.remove_prefix(at + kExtension.size());
  }
  return name.append(rest);
}

bool isBlankName(const std::string& name) {
  // Blanks and control characters are the bytes up to and including the space.
  for (char c : name) {
    if (static_cast<unsigned char>(c) > 0x20) return false;
  }
  return true;
}

bool isValidSchemeName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || !text::isValidUtf8(name)) return false;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

std::string schemeFileProblem(const std::string& path) noexcept {
  try {
    CSimpleIniA ini;
    std::vector<std::pair<std::string, std::string>> names;
    std::string why = "it cannot be read as an INI file";
    if (!loadIni(path, ini, names, &why)) return why;
    std::vector<const char*> sections = sectionsInFileOrder(ini);
    if (sections.empty()) return "it has no section";
    for (const char* section : sections) {
      for (const SideKeys& keys : kKeys) {
        if (ini.GetValue(section, keys.codeWritten) == nullptr)
          return "its section [" + realSectionName(section, names) + "] has no " +
                 keys.codeWritten + " key";
      }
    }
    return {};
  } catch (const std::bad_alloc&) {
    return "there is not enough memory to read it";
  }
}

bool isSchemeFile(const std::string& path) noexcept {
  return schemeFileProblem(path).empty();
}

std::vector<std::string> listSchemes(const std::string& directory) noexcept {
  std::vector<std::string> names;
  try {
    for (const std::string& fileName : files::listFiles(directory, "*.Unitdata")) {
      if (isSchemeFile(withSeparator(directory) + fileName)) {
        names.push_back(schemeNameOf(fileName));
      }
    }
  } catch (const std::exception&) {
    // Out of memory: the names found so far are listed.
  }
  return names;
}

std::vector<SchemePair> loadScheme(const std::string& path,
                                   std::vector<SchemePair>* dropped) noexcept {
  std::vector<SchemePair> pairs;
  if (dropped != nullptr) dropped->clear();
  try {
    CSimpleIniA ini;
    std::vector<std::pair<std::string, std::string>> names;
    if (!loadIni(path, ini, names)) return pairs;
    std::vector<SchemePair> all;
    std::unordered_map<std::string, std::size_t> last;  // section key -> its last section
    for (const char* section : sectionsInFileOrder(ini)) {
      all.push_back(SchemePair{
          realSectionName(section, names),
          UnitPair(readUnit(ini, section, kKeys[Left]), readUnit(ini, section, kKeys[Right]))});
      last[sectionKey(all.back().section)] = all.size() - 1;
    }
    // A name that stands twice leaves the pair of its last section, as an INI reader would.
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (last.at(sectionKey(all[i].section)) == i)
        pairs.push_back(std::move(all[i]));
      else if (dropped != nullptr)
        dropped->push_back(std::move(all[i]));
    }
  } catch (const std::exception&) {
    pairs.clear();  // out of memory: like an unreadable file
    if (dropped != nullptr) dropped->clear();
  }
  return pairs;
}

std::vector<std::string> saveScheme(const std::string& path, const std::vector<UnitPair>& pairs) {
  if (pairs.empty()) {
    // An empty list leaves no file behind, as saving always replaced the file's whole content.
    files::deleteFileQuietly(path);
    return {};
  }

  // Units of different places may share names: a later pair whose name the reader would take for
  // an earlier one is written with its two codes appended, a section of its own.
  std::vector<std::string> renamed;
  std::unordered_set<std::string> taken;
  std::string content;
  for (const UnitPair& pair : pairs) {
    for (std::string_view text :
         {std::string_view(pair.name), std::string_view(pair[Left].sUnitCode),
          std::string_view(pair[Left].sUnitName), std::string_view(pair[Right].sUnitCode),
          std::string_view(pair[Right].sUnitName)}) {
      if (breaksLine(text)) {
        throw FormatError("Unable to write to " + path + ": the unit pair \"" + pair.name +
                          "\" has a name or code with a line break");
      }
    }
    std::string section = pair.name;
    if (taken.contains(sectionKey(section))) {
      const std::string apart =
          pair.name + "（" + pair[Left].sUnitCode + "/" + pair[Right].sUnitCode + "）";
      section = apart;
      for (int n = 2; taken.contains(sectionKey(section)); ++n)
        section = apart + "（" + std::to_string(n) + "）";
      renamed.push_back(section);
    }
    taken.insert(sectionKey(section));
    content.append("[").append(section).append("]\r\n");
    for (Side side : {Left, Right}) appendUnit(content, pair[side], kKeys[side]);
  }
  files::writeFileAtomically(path, text::utf8ToGb18030(content));
  return renamed;
}

void deleteScheme(const std::string& path) noexcept {
  files::deleteFileQuietly(path);
}

}  // namespace dupsweep::scheme
