#pragma once
// File services: the executable's path, temporary files, quiet deletion, listing by pattern.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace dupsweep::files {

// /proc/self/exe resolved. Throws FileError when it cannot be determined.
std::filesystem::path executablePath();

// With a trailing separator ("/opt/x/bin/").
std::string executableDirectory();

// $TMPDIR when set and non-empty, else "/tmp".
std::filesystem::path temporaryDirectory();

// A new, empty file named `prefix`... in `directory`, made race-free (O_CREAT|O_EXCL); its full
// path. Throws FileError when none can be created.
std::filesystem::path createTemporaryFile(std::string_view prefix = "tmp",
                                          const std::filesystem::path& directory = {});

// Any failure (missing file, no permission) is ignored.
void deleteFileQuietly(const std::filesystem::path& path) noexcept;

// Names of the regular files matching `pattern` ('*', '?', ASCII case ignored: "*.Unitdata"
// matches "A.UNITDATA"), sorted; empty for a missing or unreadable directory.
std::vector<std::string> listFiles(const std::filesystem::path& directory, std::string_view pattern);

// Through a flushed temporary file in the same directory renamed over `path`. On failure `path`
// stays as it was and FileError "Unable to write to <path>" is raised.
void writeFileAtomically(const std::filesystem::path& path, std::string_view content);

// Throws FileError when it cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace dupsweep::files
