#include "platform/files/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "platform/errors.h"

namespace dupsweep::files {
namespace {

namespace fs = std::filesystem;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::string randomHex() {
  thread_local std::mt19937_64 engine{(std::uint64_t{std::random_device{}()} << 32) ^
                                      std::random_device{}()};
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(engine() & 0xFFFFFFFFu));
  return hex;
}

// `directory`/`prefix` + random hex + ".tmp", O_CREAT|O_EXCL, trying fresh names while taken.
// Returns the descriptor and sets `path`; -1 (errno set) on failure.
int createUnique(const fs::path& directory, const std::string& prefix, mode_t mode,
                 fs::path& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = directory / (prefix + randomHex() + ".tmp");
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

unsigned char lower(char c) {
  return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// One byte plus any UTF-8 continuation bytes, so that '?' stands for a whole character.
std::size_t charLength(std::string_view name, std::size_t i) {
  std::size_t n = 1;
  while (i + n < name.size() && (static_cast<unsigned char>(name[i + n]) & 0xC0) == 0x80) ++n;
  return n;
}

// Greedy with a single backtrack point for the last '*', which is enough for this grammar.
bool matches(std::string_view name, std::string_view pattern) {
  std::size_t n = 0, p = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n += charLength(name, n);
    } else if (p < pattern.size() && lower(pattern[p]) == lower(name[n])) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      starN += charLength(name, starN);
      n = starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool lessByName(const std::string& a, const std::string& b) {
  auto r = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
  if (r) return true;
  if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                   [](char x, char y) { return lower(x) < lower(y); })) {
    return false;
  }
  return a < b;
}

}  // namespace

fs::path executablePath() {
  std::error_code ec;
  fs::path path = fs::read_symlink("/proc/self/exe", ec);
  if (ec || path.empty()) {
    throw FileError("Unable to determine the path of the running program: " + ec.message());
  }
  return path;
}

std::string executableDirectory() {
  std::string dir = executablePath().parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

fs::path temporaryDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  return (tmp != nullptr && *tmp != '\0') ? fs::path(tmp) : fs::path("/tmp");
}

fs::path createTemporaryFile(std::string_view prefix, const fs::path& directory) {
  fs::path dir = directory.empty() ? temporaryDirectory() : directory;
  if (prefix.find('/') != std::string_view::npos) {
    throw FileError("Invalid temporary file prefix \"" + std::string(prefix) + "\"");
  }
  fs::path path;
  Fd fd(createUnique(dir, std::string(prefix), 0600, path));
  if (fd.get() < 0) {
    int error = errno;
    throw FileError("Unable to create a temporary file in " + dir.string() + ": " +
                    std::strerror(error));
  }
  return path;
}

void deleteFileQuietly(const fs::path& path) noexcept {
  ::unlink(path.c_str());
}

std::vector<std::string> listFiles(const fs::path& directory, std::string_view pattern) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(directory, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;  // follows links; directories are left out
    std::string name = it->path().filename().string();
    if (matches(name, pattern)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), lessByName);
  return names;
}

void writeFileAtomically(const fs::path& path, std::string_view content) {
  fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  fs::path tempPath;
  // A dot first and ".tmp" last, so that no listing by the target's extension picks it up.
  Fd fd(createUnique(dir, "." + path.filename().string() + ".", 0666, tempPath));
  if (fd.get() < 0) throw FileError("Unable to write to " + path.string());

  bool ok = writeAll(fd.get(), content);
  // Keep the permissions of the file being replaced; a new file gets the default (umask) mode.
  struct stat old;
  if (ok && ::stat(path.c_str(), &old) == 0) ok = ::fchmod(fd.get(), old.st_mode & 07777) == 0;
  ok = ok && ::fsync(fd.get()) == 0;
  ok = ::close(fd.release()) == 0 && ok;
  ok = ok && ::rename(tempPath.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(tempPath.c_str());
    throw FileError("Unable to write to " + path.string());
  }
  // Make the rename itself durable; the content is already in place if this fails.
  if (int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

std::string readFile(const fs::path& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string content;
  if (fd.get() >= 0) {
    char buffer[65536];
    while (true) {
      ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
      if (n > 0) {
        content.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0) {
        return content;
      } else if (errno != EINTR) {
        break;
      }
    }
  }
  int error = errno;
  throw FileError("Unable to read " + path.string() + ": " + std::strerror(error));
}

}  // namespace dupsweep::files
