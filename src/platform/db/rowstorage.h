#pragma once
// How a row set filled by appending keeps its values (internal to the database layer). db.h
// includes it only because every RowSet holds one and reads it inline on the comparison's path.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/values.h"

namespace dupsweep::db::detail {

// One value appended as a view: its number, or its bytes (`size` of them): up to eight in
// place, longer ones at `offset` in RowStorage::bytes. Most texts of a report's rows (period,
// unit and task codes, short remarks) fit in place, which spares a copy call for each.
struct Packed {
  Packed() noexcept {}  // left unset: append sets every field it reads
  ValueKind kind;
  std::uint32_t size;
  union {
    std::int64_t integer;
    double floating;
    std::size_t offset;
    char inlined[8];
  };
};
static_assert(sizeof(Packed) == 16, "a value appended takes two words");

// A row's NULLs and texts as bits, gathered column by column (columns past 63 wrap; their
// masks are not kept).
struct RowMasks {
  std::uint64_t nulls = 0;
  std::uint64_t texts = 0;
  void add(std::size_t column, ValueKind kind) noexcept {
    nulls |= std::uint64_t{kind == ValueKind::Null} << (column % 64);
    texts |= std::uint64_t{kind == ValueKind::Text} << (column % 64);
  }
};

// Throws DatabaseError for a value of 4 GiB or more, which Packed cannot hold.
[[noreturn]] void valueTooLong();

// The values of a row set filled by appending, row-major, and per row its masks while the row
// has at most kMaskColumns columns. Index i is row * columns + column.
struct RowStorage {
  static constexpr std::size_t kMaskColumns = 64;

  std::vector<Packed> packed;
  std::vector<std::uint64_t> nullMasks;
  std::vector<std::uint64_t> textMasks;
  std::string bytes;

  bool empty() const noexcept { return packed.empty(); }

  // Appends one value; the caller ends the row (keepMasks).
  void append(const CellView& v) {
    if (v.bytes.size() > UINT32_MAX) valueTooLong();
    pack(v, packed.emplace_back());
  }

  // Appends a row of `columns` values, cellAt(column) giving each, with its masks. On a throw
  // nothing of the row stays.
  template <class CellAt>
  void appendRow(std::size_t columns, CellAt&& cellAt) {
    const std::size_t start = packed.size();
    const std::size_t bytesStart = bytes.size();
    packed.resize(start + columns);  // Packed's constructor leaves it unset: nothing is zeroed
    Packed* p = packed.data() + start;
    // The masks are gathered while each kind is at hand: a pass over the packed row afterwards
    // would read back what was just written.
    RowMasks masks;
    try {
      for (std::size_t c = 0; c < columns; ++c) {
        const CellView v = cellAt(static_cast<int>(c));
        if (v.bytes.size() > UINT32_MAX) valueTooLong();
        pack(v, p[c]);
        masks.add(c, v.kind);
      }
      keepMasks(masks, columns);
    } catch (...) {
      packed.resize(start);
      bytes.resize(bytesStart);
      throw;
    }
  }

  // Keeps the masks of the row being ended, while the columns are few enough.
  void keepMasks(const RowMasks& masks, std::size_t columns) {
    if (columns > kMaskColumns) return;
    textMasks.push_back(masks.texts);
    try {
      nullMasks.push_back(masks.nulls);
    } catch (...) {
      textMasks.pop_back();  // both masks of a row, or neither
      throw;
    }
  }

  void prefetch(std::size_t i) const noexcept {
    // Integer arithmetic: the place may lie outside the values, or packed may hold none.
    const std::uintptr_t place =
        reinterpret_cast<std::uintptr_t>(packed.data()) + i * sizeof(Packed);
#if defined(__x86_64__)
    // The instruction itself: GCC drops __builtin_prefetch from a loop that does nothing else,
    // and such a loop is how the prefetches are asked for ahead of the reads.
    asm volatile("prefetcht0 (%0)" : : "r"(place));
#else
    __builtin_prefetch(reinterpret_cast<const void*>(place));
#endif
  }

 private:
  // Copies a value into `p`, field by field: a value made aside and then copied whole would be
  // read back from where its fields were just written, which the processor cannot forward.
  // Requires a value of fewer than 4 GiB.
  void pack(const CellView& v, Packed& p) {
    p.kind = v.kind;
    p.size = 0;
    switch (v.kind) {
      case ValueKind::Integer:
      case ValueKind::Boolean:
        p.integer = v.integer;
        break;
      case ValueKind::Floating:
        p.floating = v.floating;
        break;
      case ValueKind::Null:
        p.integer = 0;
        break;
      default:
        p.size = static_cast<std::uint32_t>(v.bytes.size());
        if (p.size <= sizeof p.inlined) {
          inlineBytes(v.bytes, p.inlined);
        } else {
          p.offset = bytes.size();
          bytes.append(v.bytes);
        }
    }
  }
  // Copies up to eight bytes with fixed-size moves (a copy of a variable size would be a call).
  static void inlineBytes(std::string_view from, char* to) noexcept {
    const std::size_t n = from.size();
    if (n >= 4) {
      std::memcpy(to, from.data(), 4);
      std::memcpy(to + n - 4, from.data() + n - 4, 4);
    } else if (n > 0) {
      to[0] = from[0];
      to[n / 2] = from[n / 2];
      to[n - 1] = from[n - 1];
    }
  }
};

}  // namespace dupsweep::db::detail
