#pragma once
// File services of the platform: the running executable's path, unique temporary files,
// deletion whose failure is ignored, and directory listing by a "*.ext"-style pattern.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace dupsweep::files {

// Full path of the running executable (/proc/self/exe resolved). Throws FileError when it cannot
// be determined.
std::filesystem::path executablePath();

// Directory of the running executable, with a trailing separator ("/opt/x/bin/").
std::string executableDirectory();

// The temporary directory: $TMPDIR when set and non-empty, else "/tmp".
std::filesystem::path temporaryDirectory();

// Creates a new, empty file with a unique name beginning with `prefix` in `directory`
// (default: temporaryDirectory()) and returns its full path. Race-free (O_CREAT|O_EXCL).
// Throws FileError when no file can be created there.
std::filesystem::path createTemporaryFile(std::string_view prefix = "tmp",
                                          const std::filesystem::path& directory = {});

// Removes a file; any failure (missing file, no permission) is ignored.
void deleteFileQuietly(const std::filesystem::path& path) noexcept;

// Names (not paths) of the regular files in `directory` that match `pattern`, where `*` matches any
// run of characters and `?` one character, compared without regard to ASCII letter case
// ("*.Unitdata" also matches "A.UNITDATA"). Sorted by name. A missing or unreadable directory
// gives an empty list.
std::vector<std::string> listFiles(const std::filesystem::path& directory, std::string_view pattern);

// Writes `content` to `path` atomically: into a temporary file in the same directory, flushed,
// then renamed over `path`. On failure `path` is left as it was and FileError is raised with
// the message "Unable to write to <path>".
void writeFileAtomically(const std::filesystem::path& path, std::string_view content);

// The whole content of a file. Throws FileError when it cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace dupsweep::files
