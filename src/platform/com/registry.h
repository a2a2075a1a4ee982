#pragma once
// HKEY_CLASSES_ROOT as a UTF-8 file in the registry editor's export format; key paths relative
// to it, keys and value names without regard to ASCII case, "" the default value. Every change is
// made under flock and renamed into place; an unparsable file raises FormatError, never rewritten.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dupsweep::com {

class Registry {
 public:
  // $DUPSWEEP_REGISTRY, else $XDG_CONFIG_HOME or ~/.config, then dupsweep/registry.reg.
  static std::filesystem::path defaultPath();

  // A missing file is an empty registry, created with its directory by the first change.
  explicit Registry(std::filesystem::path file);

  const std::filesystem::path& file() const noexcept { return file_; }

  // With any missing parent. Throws FormatError (bad path, corrupt file) or FileError.
  void createKey(std::string_view key);

  // Creates the key when missing. Line breaks give FormatError; otherwise as createKey.
  void setValue(std::string_view key, std::string_view name, std::string_view value);

  enum class DeleteResult { kDeleted, kNotFound, kHasSubkeys };
  // A key with subkeys stays (kHasSubkeys); a missing one gives kNotFound. Throws as createKey.
  DeleteResult deleteKey(std::string_view key);

  // nullopt when missing or not a string. Throws FormatError or FileError.
  std::optional<std::string> getValue(std::string_view key, std::string_view name) const;

  // Throws FormatError or FileError.
  bool keyExists(std::string_view key) const;

  // Direct subkeys ("" = the root), sorted without regard to case. Throws as above.
  std::vector<std::string> subkeys(std::string_view key) const;

  // (name, value) in file order. Throws FormatError or FileError.
  std::vector<std::pair<std::string, std::string>> values(std::string_view key) const;

 private:
  std::filesystem::path file_;
};

}  // namespace dupsweep::com
