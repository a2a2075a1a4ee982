#pragma once
// The registry store of HKEY_CLASSES_ROOT: a text file in the registry editor's export format
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CLASSES_ROOT\CLSID\{...}]
//   @="Dupsweep Object"
//   "ThreadingModel"="Apartment"
//
// with backslash and quote escaped as \\ and \" inside values. The file is UTF-8. Every key is
// written as its own section, parents before children, subkeys sorted without regard to case.
// Values other than strings (dword:, hex...:) found in the file are kept as they stand.
//
// Key paths are given relative to HKEY_CLASSES_ROOT ("CLSID\{...}\InprocServer32"; a leading
// "HKEY_CLASSES_ROOT\" is accepted) and compare without regard to ASCII letter case, as do value
// names. The empty value name is the key's default value (written @).
//
// Every change reads, modifies and writes the file under an exclusive lock (flock on "<file>.lock")
// and replaces the file atomically (temporary file + rename), so concurrent changes from several
// processes lose nothing and a reader never sees a half-written file. A file that cannot be parsed
// raises FormatError naming the file and line, and is never overwritten.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dupsweep::com {

class Registry {
 public:
  // The registry of this user: $DUPSWEEP_REGISTRY when set and non-empty, else
  // $XDG_CONFIG_HOME/dupsweep/registry.reg, else ~/.config/dupsweep/registry.reg.
  static std::filesystem::path defaultPath();

  // A registry kept in `file`. A missing file is an empty registry; it is created (with its
  // directory) by the first change.
  explicit Registry(std::filesystem::path file);

  const std::filesystem::path& file() const noexcept { return file_; }

  // Creates the key and any missing parent. Throws FormatError (bad key path or corrupt file) or
  // FileError (file or lock cannot be read or written).
  void createKey(std::string_view key);

  // Sets the string value `name` ("" = default) of `key`, creating the key when missing. Values and
  // names may not contain line breaks (FormatError). Other failures as createKey.
  void setValue(std::string_view key, std::string_view name, std::string_view value);

  enum class DeleteResult { kDeleted, kNotFound, kHasSubkeys };
  // Removes a key with its values. A key that has subkeys is not removed (kHasSubkeys), a missing
  // key gives kNotFound; the file is then left untouched. Throws as createKey.
  DeleteResult deleteKey(std::string_view key);

  // The string value `name` of `key`; nullopt when the key or value is missing or the value is
  // not a string. Throws FormatError or FileError.
  std::optional<std::string> getValue(std::string_view key, std::string_view name) const;

  // True when the key exists. Throws FormatError or FileError.
  bool keyExists(std::string_view key) const;

  // Names of the direct subkeys of `key` ("" = the root), sorted without regard to case; empty
  // when the key is missing. Throws FormatError or FileError.
  std::vector<std::string> subkeys(std::string_view key) const;

  // The string values of `key` as (name, value) pairs in file order ("" = default).
  // Throws FormatError or FileError.
  std::vector<std::pair<std::string, std::string>> values(std::string_view key) const;

 private:
  std::filesystem::path file_;
};

}  // namespace dupsweep::com
