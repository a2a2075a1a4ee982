#include "platform/com/typelib.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/com/registry.h"
#include "platform/errors.h"

namespace dupsweep::com {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) noexcept {
  auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return fold(x) == fold(y); });
}

struct Token {
  std::string text;
  bool quoted = false;
};

class TypeLibParser {
 public:
  explicit TypeLibParser(std::string_view text) : text_(text) {}

  TypeLibInfo parse() {
    std::size_t pos = 0;
    bool headerSeen = false;
    while (pos <= text_.size()) {
      const std::size_t end = std::min(text_.find('\n', pos), text_.size());
      std::string_view line = text_.substr(pos, end - pos);
      pos = end + 1;
      ++lineNumber_;
      tokens_ = tokenize(line);
      if (tokens_.empty() || tokens_[0].text.starts_with('#')) continue;
      const std::string& keyword = tokens_[0].text;
      if (!headerSeen) {
        if (keyword != "typelib" || tokens_.size() != 2 || tokens_[1].text != "1")
          fail("expected \"typelib 1\"");
        headerSeen = true;
        continue;
      }
      statement(keyword);
    }
    if (!headerSeen) fail("empty type library");
    if (!librarySeen_) fail("no library statement");
    resolve();
    return std::move(lib_);
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw FormatError("Type library, line " + std::to_string(lineNumber_) + ": " + what);
  }

  std::vector<Token> tokenize(std::string_view line) const {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (true) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
      if (i >= line.size()) break;
      Token t;
      if (line[i] == '"') {
        t.quoted = true;
        ++i;
        while (true) {
          if (i >= line.size()) fail("unterminated string");
          const char c = line[i++];
          if (c == '"') break;
          if (c == '\\') {
            if (i >= line.size() || (line[i] != '"' && line[i] != '\\')) fail("invalid escape");
            t.text += line[i++];
          } else {
            t.text += c;
          }
        }
      } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
          t.text += line[i++];
      }
      tokens.push_back(std::move(t));
    }
    return tokens;
  }

  void expectCount(std::size_t n) const {
    if (tokens_.size() != n)
      fail("\"" + tokens_[0].text + "\" takes " + std::to_string(n - 1) + " field(s)");
  }
  const std::string& word(std::size_t i) const {
    if (tokens_[i].quoted || tokens_[i].text.empty()) fail("expected a name");
    return tokens_[i].text;
  }
  const std::string& quoted(std::size_t i) const {
    if (!tokens_[i].quoted) fail("expected a quoted string");
    return tokens_[i].text;
  }
  GUID guid(std::size_t i) const {
    const auto g = parseGuid(tokens_[i].text);
    if (!g || tokens_[i].text.front() != '{') fail("malformed GUID \"" + tokens_[i].text + "\"");
    return *g;
  }
  template <typename T>
  T number(std::string_view text, int base = 10) const {
    T value{};
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || p != text.data() + text.size())
      fail("malformed number \"" + std::string(text) + "\"");
    return value;
  }
  void version(std::size_t i, WORD& major, WORD& minor) const {
    const std::string& v = tokens_[i].text;
    const std::size_t dot = v.find('.');
    if (dot == std::string::npos) fail("malformed version \"" + v + "\"");
    major = number<WORD>(std::string_view(v).substr(0, dot));
    minor = number<WORD>(std::string_view(v).substr(dot + 1));
  }

  void checkNewName(const std::string& name) {
    for (const auto& existing : names_)
      if (equalsNoCase(existing, name)) fail("duplicate name \"" + name + "\"");
    names_.push_back(name);
  }

  void statement(const std::string& keyword) {
    if (keyword == "library") {
      if (librarySeen_) fail("second library statement");
      expectCount(5);
      lib_.name = word(1);
      lib_.libid = guid(2);
      version(3, lib_.majorVersion, lib_.minorVersion);
      lib_.helpString = quoted(4);
      librarySeen_ = true;
      return;
    }
    if (!librarySeen_) fail("\"" + keyword + "\" before the library statement");
    if (keyword == "lcid") {
      expectCount(2);
      lib_.lcid = number<LCID>(tokens_[1].text);
    } else if (keyword == "syskind") {
      expectCount(2);
      const std::string& k = word(1);
      if (k == "win16")
        lib_.syskind = SYS_WIN16;
      else if (k == "win32")
        lib_.syskind = SYS_WIN32;
      else if (k == "mac")
        lib_.syskind = SYS_MAC;
      else if (k == "win64")
        lib_.syskind = SYS_WIN64;
      else
        fail("unknown syskind \"" + k + "\"");
    } else if (keyword == "importlib") {
      expectCount(2);
      lib_.importLib = word(1);
    } else if (keyword == "interface") {
      expectCount(5);
      InterfaceInfo itf;
      itf.name = word(1);
      checkNewName(itf.name);
      itf.iid = guid(2);
      version(3, itf.majorVersion, itf.minorVersion);
      itf.helpString = quoted(4);
      lib_.interfaces.push_back(std::move(itf));
      current_ = Current::kInterface;
      baseSeen_ = false;
    } else if (keyword == "coclass") {
      expectCount(5);
      CoClassInfo cls;
      cls.name = word(1);
      checkNewName(cls.name);
      cls.clsid = guid(2);
      version(3, cls.majorVersion, cls.minorVersion);
      cls.helpString = quoted(4);
      lib_.coclasses.push_back(std::move(cls));
      current_ = Current::kCoClass;
    } else if (keyword == "flags") {
      if (current_ == Current::kNone || current_ == Current::kMethod)
        fail("flags outside of a type");
      WORD& flags = current_ == Current::kInterface ? lib_.interfaces.back().flags
                                                    : lib_.coclasses.back().flags;
      for (std::size_t i = 1; i < tokens_.size(); ++i) flags |= typeFlag(word(i));
    } else if (keyword == "base") {
      if (current_ != Current::kInterface) fail("base outside of an interface");
      expectCount(2);
      if (word(1) != "IDispatch") fail("only interfaces derived from IDispatch are supported");
      baseSeen_ = true;
    } else if (keyword == "method") {
      if (current_ != Current::kInterface && current_ != Current::kMethod)
        fail("method outside of an interface");
      if (!baseSeen_) fail("method before the interface's base");
      expectCount(4);
      InterfaceInfo& itf = lib_.interfaces.back();
      MethodInfo m;
      m.name = word(1);
      m.dispid = number<DISPID>(tokens_[2].text);
      if (word(3) != "HRESULT") fail("methods must return HRESULT");
      for (const auto& other : itf.methods) {
        if (equalsNoCase(other.name, m.name)) fail("duplicate method \"" + m.name + "\"");
        if (other.dispid == m.dispid) fail("duplicate dispatch identifier " + tokens_[2].text);
      }
      m.vtableSlot = 7 + static_cast<int>(itf.methods.size());
      itf.methods.push_back(std::move(m));
      current_ = Current::kMethod;
    } else if (keyword == "param") {
      if (current_ != Current::kMethod) fail("param outside of a method");
      expectCount(4);
      MethodInfo& m = lib_.interfaces.back().methods.back();
      ParamInfo p;
      p.name = word(1);
      for (const auto& other : m.params)
        if (equalsNoCase(other.name, p.name)) fail("duplicate parameter \"" + p.name + "\"");
      const std::string& type = word(2);
      if (type == "BSTR")
        p.type = VT_BSTR;
      else if (type == "I4")
        p.type = VT_I4;
      else if (type == "I2")
        p.type = VT_I2;
      else if (type == "BOOL")
        p.type = VT_BOOL;
      else if (type == "VARIANT")
        p.type = VT_VARIANT;
      else
        fail("unsupported parameter type \"" + type + "\"");
      if (word(3) != "in") fail("only input parameters are supported");
      p.flags = PARAMFLAG_FIN;
      m.params.push_back(std::move(p));
    } else if (keyword == "implements") {
      if (current_ != Current::kCoClass) fail("implements outside of a coclass");
      if (tokens_.size() < 2) fail("implements without an interface");
      ImplementedInterface impl;
      impl.name = word(1);
      for (std::size_t i = 2; i < tokens_.size(); ++i) {
        if (word(i) == "default")
          impl.flags |= IMPLTYPEFLAG_FDEFAULT;
        else if (word(i) == "source")
          impl.flags |= IMPLTYPEFLAG_FSOURCE;
        else
          fail("unknown implementation flag \"" + tokens_[i].text + "\"");
      }
      lib_.coclasses.back().interfaces.push_back(std::move(impl));
    } else {
      fail("unknown statement \"" + keyword + "\"");
    }
  }

  WORD typeFlag(const std::string& name) const {
    if (name == "dual") return TYPEFLAG_FDUAL;
    if (name == "oleautomation") return TYPEFLAG_FOLEAUTOMATION;
    if (name == "dispatchable") return TYPEFLAG_FDISPATCHABLE;
    if (name == "hidden") return TYPEFLAG_FHIDDEN;
    if (name == "nonextensible") return TYPEFLAG_FNONEXTENSIBLE;
    if (name == "cancreate") return TYPEFLAG_FCANCREATE;
    if (name == "appobject") return TYPEFLAG_FAPPOBJECT;
    fail("unknown flag \"" + name + "\"");
  }

  void resolve() {
    for (const auto& cls : lib_.coclasses)
      for (const auto& impl : cls.interfaces)
        if (lib_.findInterface(impl.name) == nullptr)
          throw FormatError("Type library: class " + cls.name + " implements unknown interface " +
                            impl.name);
  }

  enum class Current { kNone, kInterface, kMethod, kCoClass };

  std::string_view text_;
  int lineNumber_ = 0;
  std::vector<Token> tokens_;
  TypeLibInfo lib_;
  bool librarySeen_ = false;
  bool baseSeen_ = false;
  Current current_ = Current::kNone;
  std::vector<std::string> names_;
};

// Reads exactly `size` bytes at `offset`; false when the file is shorter.
bool readAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::pread(fd, out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string hexVersion(WORD major, WORD minor) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x.%x", major, minor);
  return buffer;
}

std::string decimalVersion(WORD major, WORD minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

const char* syskindName(SYSKIND kind) {
  switch (kind) {
    case SYS_WIN16:
      return "win16";
    case SYS_MAC:
      return "mac";
    case SYS_WIN64:
      return "win64";
    default:
      return "win32";
  }
}

bool registersInterface(const InterfaceInfo& itf) {
  return (itf.flags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)) != 0;
}

}  // namespace

const MethodInfo* InterfaceInfo::findMethod(DISPID id) const noexcept {
  for (const auto& m : methods)
    if (m.dispid == id) return &m;
  return nullptr;
}

const InterfaceInfo* TypeLibInfo::findInterface(const IID& iid) const noexcept {
  for (const auto& itf : interfaces)
    if (itf.iid == iid) return &itf;
  return nullptr;
}

const InterfaceInfo* TypeLibInfo::findInterface(std::string_view interfaceName) const noexcept {
  for (const auto& itf : interfaces)
    if (equalsNoCase(itf.name, interfaceName)) return &itf;
  return nullptr;
}

const CoClassInfo* TypeLibInfo::findCoClass(const CLSID& clsid) const noexcept {
  for (const auto& cls : coclasses)
    if (cls.clsid == clsid) return &cls;
  return nullptr;
}

const InterfaceInfo* TypeLibInfo::defaultInterface(const CoClassInfo& coclass) const noexcept {
  for (const auto& impl : coclass.interfaces)
    if ((impl.flags & IMPLTYPEFLAG_FDEFAULT) && !(impl.flags & IMPLTYPEFLAG_FSOURCE))
      return findInterface(impl.name);
  return nullptr;
}

TypeLibInfo parseTypeLib(std::string_view text) {
  return TypeLibParser(text).parse();
}

std::string readModuleSection(const std::filesystem::path& file, std::string_view section) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0)
    throw FileError("Unable to read " + file.string() + ": " + std::strerror(errno));
  const std::string notElf = file.string() + " is not a readable ELF module";
  Elf64_Ehdr header;
  if (!readAt(fd.get(), &header, sizeof header, 0) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
      header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_shentsize != sizeof(Elf64_Shdr))
    throw FormatError(notElf);
  std::uint64_t count = header.e_shnum;
  std::uint64_t namesIndex = header.e_shstrndx;
  Elf64_Shdr first;
  if (header.e_shoff == 0 || !readAt(fd.get(), &first, sizeof first, header.e_shoff))
    throw FormatError(notElf);
  if (count == 0) count = first.sh_size;  // more sections than e_shnum can hold
  if (namesIndex == SHN_XINDEX) namesIndex = first.sh_link;
  if (count == 0 || count > 65536 * 16 || namesIndex >= count) throw FormatError(notElf);
  std::vector<Elf64_Shdr> sections(count);
  if (!readAt(fd.get(), sections.data(), count * sizeof(Elf64_Shdr), header.e_shoff))
    throw FormatError(notElf);
  const Elf64_Shdr& names = sections[namesIndex];
  if (names.sh_size > (1u << 24)) throw FormatError(notElf);
  std::string nameTable(names.sh_size, '\0');
  if (!readAt(fd.get(), nameTable.data(), nameTable.size(), names.sh_offset))
    throw FormatError(notElf);
  for (const auto& s : sections) {
    if (s.sh_name >= nameTable.size()) continue;
    const char* name = nameTable.c_str() + s.sh_name;
    if (section != name) continue;
    if (s.sh_type == SHT_NOBITS || s.sh_size > (1u << 26)) throw FormatError(notElf);
    std::string content(s.sh_size, '\0');
    if (!readAt(fd.get(), content.data(), content.size(), s.sh_offset)) throw FormatError(notElf);
    return content;
  }
  throw FormatError(file.string() + " carries no section " + std::string(section));
}

TypeLibInfo loadTypeLibFromModule(const std::filesystem::path& module) {
  std::string text = readModuleSection(module, kTypeLibSection);
  // A section may be padded with zero bytes after the text.
  if (const std::size_t end = text.find('\0'); end != std::string::npos) text.resize(end);
  try {
    return parseTypeLib(text);
  } catch (const FormatError& e) {
    throw FormatError(module.string() + ": " + e.what());
  }
}

void registerTypeLib(const TypeLibInfo& lib, const std::filesystem::path& module,
                     const std::filesystem::path& helpDir, Registry& registry) {
  const std::string libid = guidToString(lib.libid);
  const std::string versionKey =
      "TypeLib\\" + libid + "\\" + hexVersion(lib.majorVersion, lib.minorVersion);
  char lcid[16];
  std::snprintf(lcid, sizeof lcid, "%x", static_cast<unsigned>(lib.lcid));
  registry.setValue(versionKey, "", lib.helpString);
  registry.setValue(versionKey + "\\" + lcid + "\\" + syskindName(lib.syskind), "",
                    module.string());
  registry.setValue(versionKey + "\\FLAGS", "", "0");
  registry.setValue(versionKey + "\\HELPDIR", "", helpDir.string());
  const std::string marshaler = guidToString(CLSID_PSOAInterface);
  for (const auto& itf : lib.interfaces) {
    if (!registersInterface(itf)) continue;
    const std::string key = "Interface\\" + guidToString(itf.iid);
    registry.setValue(key, "", itf.name);
    registry.setValue(key + "\\ProxyStubClsid", "", marshaler);
    registry.setValue(key + "\\ProxyStubClsid32", "", marshaler);
    registry.setValue(key + "\\TypeLib", "", libid);
    registry.setValue(key + "\\TypeLib", "Version",
                      decimalVersion(lib.majorVersion, lib.minorVersion));
  }
}

void unregisterTypeLib(const TypeLibInfo& lib, Registry& registry) {
  const std::string libKey = "TypeLib\\" + guidToString(lib.libid);
  const std::string versionKey = libKey + "\\" + hexVersion(lib.majorVersion, lib.minorVersion);
  char lcid[16];
  std::snprintf(lcid, sizeof lcid, "%x", static_cast<unsigned>(lib.lcid));
  const std::string localeKey = versionKey + "\\" + lcid;
  for (const std::string& key :
       {localeKey + "\\" + syskindName(lib.syskind), localeKey, versionKey + "\\FLAGS",
        versionKey + "\\HELPDIR", versionKey, libKey})
    registry.deleteKey(key);
  for (const auto& itf : lib.interfaces) {
    if (!registersInterface(itf)) continue;
    const std::string key = "Interface\\" + guidToString(itf.iid);
    for (const std::string& sub :
         {key + "\\ProxyStubClsid", key + "\\ProxyStubClsid32", key + "\\TypeLib", key})
      registry.deleteKey(sub);
  }
}

}  // namespace dupsweep::com
