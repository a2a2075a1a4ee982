#pragma once
// What the fuzz targets share: the entry function of each target (called by its libFuzzer main
// and by the regression test, which replays the seed corpus and every crash input ever found),
// a reader that takes typed values off the front of an input, property checks that end the
// process like a crash, and a scratch directory for targets that must go through a file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace dupsweep::fuzz {

// ---- the targets ----
// Each takes any bytes. Expected failures (the component's own errors for bad input) are part of
// the run; a crash, a sanitizer report, an escaping exception or a broken property (check()) is a
// finding.

// The OLE DB connection-string parser and the password scrubber.
void fuzzConnectionString(const std::uint8_t* data, std::size_t size);
// The registry file reader, and writing back what it read.
void fuzzRegistry(const std::uint8_t* data, std::size_t size);
// The scheme-file validity test and reader, and saving back what was read.
void fuzzScheme(const std::uint8_t* data, std::size_t size);
// The workbook reader (xlsx, ods, Excel 2003 XML, Gnumeric, CSV) and the control over its result.
void fuzzWorkbook(const std::uint8_t* data, std::size_t size);
// The text conversions (UTF-8, UTF-16, GB18030).
void fuzzText(const std::uint8_t* data, std::size_t size);
// IDispatch::Invoke of the automation object: argument decoding and coercion.
void fuzzInvoke(const std::uint8_t* data, std::size_t size);

// One-time set-up of the invoke target (the process's QApplication); the others need none.
void initFuzzInvoke();

// ---- helpers ----

// Ends the process with a message naming the broken property, as a crash would.
[[noreturn]] void fail(std::string_view target, std::string_view what);

inline void check(bool condition, std::string_view target, std::string_view what) {
  if (!condition) fail(target, what);
}

// Typed values taken off the front of an input; past its end every value reads as zero.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t remaining() const noexcept { return size_ - pos_; }
  std::uint8_t byte() noexcept { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() noexcept {
    const std::uint16_t lo = byte();
    return static_cast<std::uint16_t>(lo | (byte() << 8));
  }
  std::uint32_t u32() noexcept {
    const std::uint32_t lo = u16();
    return lo | (static_cast<std::uint32_t>(u16()) << 16);
  }
  // Up to `count` bytes.
  std::string_view bytes(std::size_t count) noexcept {
    const std::size_t n = count < remaining() ? count : remaining();
    std::string_view out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }
  std::string_view rest() noexcept { return bytes(remaining()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A directory of this process under the temporary directory, made on first use and removed at
// exit.
const std::filesystem::path& scratchDirectory();

// Replaces the file at `path` with `bytes`; fails (fail()) when it cannot be written.
void writeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace dupsweep::fuzz
