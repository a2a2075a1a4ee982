#pragma once
// TStreamVariantConvert: a database byte-array value, seen with its bounds as the driver hands it,
// into a memory stream of upper - lower + 1 bytes.

#include <cstdint>
#include <vector>

#include "platform/db/db.h"

namespace dupsweep {

// Bounds inclusive; over bytes it does not own.
struct ByteArrayView {
  std::int64_t lowerBound = 0;
  std::int64_t upperBound = -1;
  const unsigned char* data = nullptr;

  // Lower bound 0. Throws FormatError for a value that is not a byte array, NULL included.
  static ByteArrayView of(const db::Value& value);
};

struct TMemoryStream {
  std::vector<unsigned char> bytes;
  std::size_t position = 0;
};

class TStreamVariantConvert {
 public:
  // Leaves the stream at position 0. Throws FormatError when the bounds are inverted by more than
  // one.
  static void VariantToStream(const ByteArrayView& value, TMemoryStream& stream);
};

}  // namespace dupsweep
