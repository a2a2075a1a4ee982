#include "platform/com/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <sstream>

#include "platform/errors.h"

namespace dupsweep::com {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRoot = "HKEY_CLASSES_ROOT";

char foldCase(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return foldCase(x) == foldCase(y);
         });
}

struct LessNoCase {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(foldCase(x)) < static_cast<unsigned char>(foldCase(y));
    });
  }
};

struct Value {
  std::string name;  // "" = default
  std::string data;  // the string, or for another type the text after "=" as it stands
  bool isString = true;
};

struct Key {
  std::string name;
  std::vector<Value> values;
  std::map<std::string, std::unique_ptr<Key>, LessNoCase> children;

  Value* findValue(std::string_view valueName) {
    for (auto& v : values)
      if (equalsNoCase(v.name, valueName)) return &v;
    return nullptr;
  }
  const Value* findValue(std::string_view valueName) const {
    return const_cast<Key*>(this)->findValue(valueName);
  }
  Key* child(std::string_view childName) const {
    const auto it = children.find(childName);
    return it == children.end() ? nullptr : it->second.get();
  }
  Key& childOrCreate(std::string_view childName) {
    if (Key* k = child(childName)) return *k;
    auto k = std::make_unique<Key>();
    k->name = std::string(childName);
    Key& ref = *k;
    children.emplace(ref.name, std::move(k));
    return ref;
  }
};

bool hasLineBreak(std::string_view s) noexcept {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// Splits a key path into its components; throws FormatError for an empty component.
std::vector<std::string> splitKey(std::string_view key, bool allowRoot) {
  std::vector<std::string> parts;
  if (key.empty()) {
    if (allowRoot) return parts;
    throw FormatError("Empty registry key name");
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = key.find('\\', start);
    std::string_view part =
        key.substr(start, end == std::string_view::npos ? key.npos : end - start);
    if (part.empty()) throw FormatError("Invalid registry key name \"" + std::string(key) + "\"");
    if (hasLineBreak(part)) throw FormatError("Registry key names cannot contain line breaks");
    parts.emplace_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (equalsNoCase(parts.front(), kRoot)) parts.erase(parts.begin());
  if (parts.empty() && !allowRoot) throw FormatError("Empty registry key name");
  return parts;
}

std::string quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

class Parser {
 public:
  Parser(const std::filesystem::path& file, std::string_view text) : file_(file), text_(text) {}

  std::unique_ptr<Key> parse() {
    auto root = std::make_unique<Key>();
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
    bool headerSeen = false;
    Key* current = nullptr;
    std::string line;
    while (nextLine(line)) {
      const std::string_view trimmed = trimRight(line);
      if (trimmed.empty()) continue;
      if (!headerSeen) {
        if (trimmed != kHeader)
          fail("not a registry file (expected \"" + std::string(kHeader) + "\")");
        headerSeen = true;
        continue;
      }
      if (trimmed.front() == ';') continue;
      if (trimmed.front() == '[') {
        current = &parseKeyLine(*root, trimmed);
      } else if (trimmed.front() == '@' || trimmed.front() == '"') {
        if (current == nullptr) fail("value outside of any key");
        parseValueLine(*current, trimmed);
      } else {
        fail("unexpected text \"" + std::string(trimmed.substr(0, 40)) + "\"");
      }
    }
    return root;
  }

 private:
  bool nextLine(std::string& line) {
    if (pos_ >= text_.size()) return false;
    const std::size_t end = text_.find('\n', pos_);
    line.assign(text_.substr(pos_, end == text_.npos ? text_.npos : end - pos_));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos_ = end == text_.npos ? text_.size() : end + 1;
    ++lineNumber_;
    return true;
  }

  static std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  }

  [[noreturn]] void fail(const std::string& what) const {
    throw FormatError("Registry file " + file_.string() + ", line " + std::to_string(lineNumber_) +
                      ": " + what);
  }

  Key& parseKeyLine(Key& root, std::string_view line) {
    if (line.back() != ']') fail("key line without closing \"]\"");
    std::string_view path = line.substr(1, line.size() - 2);
    if (!path.empty() && path.front() == '-')
      fail("key deletions are not part of a registry export");
    const std::size_t sep = path.find('\\');
    if (!equalsNoCase(path.substr(0, sep), kRoot)) fail("key outside of " + std::string(kRoot));
    if (sep == std::string_view::npos) return root;
    Key* key = &root;
    try {
      for (const auto& part : splitKey(path.substr(sep + 1), false))
        key = &key->childOrCreate(part);
    } catch (const FormatError& e) {
      fail(e.what());
    }
    return *key;
  }

  // Reads a quoted string starting at s[i] == '"'; leaves i after the closing quote.
  std::string parseQuoted(std::string_view s, std::size_t& i) const {
    std::string out;
    ++i;
    while (true) {
      if (i >= s.size()) fail("unterminated string");
      const char c = s[i++];
      if (c == '"') return out;
      if (c == '\\') {
        if (i >= s.size() || (s[i] != '\\' && s[i] != '"')) fail("invalid escape in string");
        out += s[i++];
      } else {
        out += c;
      }
    }
  }

  void parseValueLine(Key& key, std::string_view line) {
    std::size_t i = 0;
    Value value;
    if (line[0] == '@') {
      i = 1;
    } else {
      value.name = parseQuoted(line, i);
    }
    if (i >= line.size() || line[i] != '=') fail("expected \"=\" after the value name");
    ++i;
    if (i < line.size() && line[i] == '"') {
      value.data = parseQuoted(line, i);
      if (i != line.size()) fail("text after the end of a string value");
    } else {
      std::string_view rest = line.substr(i);
      if (!(rest.starts_with("dword:") || rest.starts_with("qword:") || rest.starts_with("hex")))
        fail("unknown value type");
      // Binary data may continue on following lines ending with a backslash.
      value.isString = false;
      value.data = std::string(rest);
      std::string next;
      while (!value.data.empty() && value.data.back() == '\\') {
        if (!nextLine(next)) fail("binary value continues past the end of the file");
        value.data += '\n';
        value.data += trimRight(next);
      }
    }
    if (Value* existing = key.findValue(value.name))
      *existing = std::move(value);
    else
      key.values.push_back(std::move(value));
  }

  const std::filesystem::path& file_;
  std::string_view text_;
  std::size_t pos_ = 0;
  int lineNumber_ = 0;
};

void writeKey(std::ostringstream& out, const Key& key, const std::string& path, bool isRoot) {
  if (!isRoot || !key.values.empty()) {
    out << '[' << path << "]\n";
    for (const auto& v : key.values) {
      out << (v.name.empty() ? std::string("@") : quote(v.name)) << '=';
      out << (v.isString ? quote(v.data) : v.data) << '\n';
    }
    out << '\n';
  }
  for (const auto& [name, child] : key.children)
    writeKey(out, *child, path + '\\' + child->name, false);
}

std::string serialize(const Key& root) {
  std::ostringstream out;
  out << kHeader << "\n\n";
  writeKey(out, root, std::string(kRoot), true);
  return out.str();
}

std::string systemMessage(int error) {
  return std::strerror(error);
}

// The file's content; nullopt when it does not exist.
std::optional<std::string> readFileIfPresent(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw FileError("Unable to read " + file.string() + ": " + systemMessage(errno));
  }
  std::string content;
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      throw FileError("Unable to read " + file.string() + ": " + systemMessage(error));
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

std::unique_ptr<Key> load(const std::filesystem::path& file) {
  const auto text = readFileIfPresent(file);
  if (!text) return std::make_unique<Key>();
  return Parser(file, *text).parse();
}

void replaceAtomically(const std::filesystem::path& file, const std::string& content) {
  const std::string failure = "Unable to write to " + file.string() + ": ";
  std::random_device random;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = file.string() + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(random());
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) throw FileError(failure + systemMessage(errno));
  }
  if (fd < 0) throw FileError(failure + "no temporary file name is free");
  struct stat existing;
  if (::stat(file.c_str(), &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);
  std::size_t written = 0;
  int error = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), file.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    throw FileError(failure + systemMessage(error));
  }
  const int dir = ::open(file.parent_path().empty() ? "." : file.parent_path().c_str(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& file) {
    const std::filesystem::path lockFile = file.string() + ".lock";
    std::error_code ec;
    if (!file.parent_path().empty()) std::filesystem::create_directories(file.parent_path(), ec);
    fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) throw FileError("Unable to lock " + file.string() + ": " + systemMessage(errno));
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd_);
      throw FileError("Unable to lock " + file.string() + ": " + systemMessage(error));
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { ::close(fd_); }  // closing releases the lock

 private:
  int fd_ = -1;
};

// Runs `change` on the loaded tree under the lock; writes the file back when it returns true.
template <typename Change>
auto modify(const std::filesystem::path& file, Change change) {
  FileLock lock(file);
  auto root = load(file);
  auto [changed, result] = change(*root);
  if (changed) replaceAtomically(file, serialize(*root));
  return result;
}

const Key* findKey(const Key& root, std::string_view key) {
  const Key* k = &root;
  for (const auto& part : splitKey(key, true)) {
    k = k->child(part);
    if (k == nullptr) return nullptr;
  }
  return k;
}

Key& createPath(Key& root, const std::vector<std::string>& parts) {
  Key* k = &root;
  for (const auto& part : parts) k = &k->childOrCreate(part);
  return *k;
}

}  // namespace

std::filesystem::path Registry::defaultPath() {
  if (const char* env = std::getenv("DUPSWEEP_REGISTRY"); env != nullptr && *env != '\0')
    return env;
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
      if (const passwd* pw = ::getpwuid(::getuid())) home = pw->pw_dir;
    }
    if (home == nullptr) throw FileError("Unable to determine the home directory for the registry");
    config = std::filesystem::path(home) / ".config";
  }
  return config / "dupsweep" / "registry.reg";
}

Registry::Registry(std::filesystem::path file) : file_(std::move(file)) {}

void Registry::createKey(std::string_view key) {
  const auto parts = splitKey(key, false);
  modify(file_, [&](Key& root) {
    const bool existed = findKey(root, key) != nullptr;
    createPath(root, parts);
    return std::pair{!existed, 0};
  });
}

void Registry::setValue(std::string_view key, std::string_view name, std::string_view value) {
  const auto parts = splitKey(key, false);
  if (hasLineBreak(name) || hasLineBreak(value))
    throw FormatError("Registry values cannot contain line breaks");
  modify(file_, [&](Key& root) {
    Key& k = createPath(root, parts);
    if (Value* v = k.findValue(name)) {
      const bool changed = !v->isString || v->data != value;
      v->isString = true;
      v->data = std::string(value);
      return std::pair{changed, 0};
    }
    k.values.push_back(Value{std::string(name), std::string(value), true});
    return std::pair{true, 0};
  });
}

Registry::DeleteResult Registry::deleteKey(std::string_view key) {
  auto parts = splitKey(key, false);
  return modify(file_, [&](Key& root) {
    Key* parent = &root;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      parent = parent->child(parts[i]);
      if (parent == nullptr) return std::pair{false, DeleteResult::kNotFound};
    }
    const auto it = parent->children.find(parts.back());
    if (it == parent->children.end()) return std::pair{false, DeleteResult::kNotFound};
    if (!it->second->children.empty()) return std::pair{false, DeleteResult::kHasSubkeys};
    parent->children.erase(it);
    return std::pair{true, DeleteResult::kDeleted};
  });
}

std::optional<std::string> Registry::getValue(std::string_view key, std::string_view name) const {
  const auto root = load(file_);
  const Key* k = findKey(*root, key);
  if (k == nullptr) return std::nullopt;
  const Value* v = k->findValue(name);
  if (v == nullptr || !v->isString) return std::nullopt;
  return v->data;
}

bool Registry::keyExists(std::string_view key) const {
  const auto root = load(file_);
  return findKey(*root, key) != nullptr;
}

std::vector<std::string> Registry::subkeys(std::string_view key) const {
  const auto root = load(file_);
  std::vector<std::string> names;
  if (const Key* k = findKey(*root, key))
    for (const auto& [name, child] : k->children) names.push_back(child->name);
  return names;
}

std::vector<std::pair<std::string, std::string>> Registry::values(std::string_view key) const {
  const auto root = load(file_);
  std::vector<std::pair<std::string, std::string>> result;
  if (const Key* k = findKey(*root, key))
    for (const auto& v : k->values)
      if (v.isString) result.emplace_back(v.name, v.data);
  return result;
}

}  // namespace dupsweep::com
