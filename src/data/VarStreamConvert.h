#pragma once
// TStreamVariantConvert: turns a database byte-array value into a memory stream. The value is
// seen as a one-dimensional array with bounds, as the database driver hands it over; the stream
// takes upper - lower + 1 bytes from it.

#include <cstdint>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep {

// A one-dimensional byte array with its bounds (inclusive), over bytes it does not own.
struct ByteArrayView {
  std::int64_t lowerBound = 0;
  std::int64_t upperBound = -1;
  const unsigned char* data = nullptr;

  // The array view of a byte-array value (lower bound 0). Throws FormatError for a value that is
  // not a byte array, NULL included.
  static ByteArrayView of(const db::Value& value);
};

// A growable block of bytes with a position.
struct TMemoryStream {
  std::vector<unsigned char> bytes;
  std::size_t position = 0;
};

class TStreamVariantConvert {
 public:
  // Replaces the stream's content by the array's upper - lower + 1 bytes and leaves it positioned
  // at 0. Throws FormatError when the bounds are inverted by more than one (a negative size).
  static void VariantToStream(const ByteArrayView& value, TMemoryStream& stream);
};

}  // namespace dupsweep
