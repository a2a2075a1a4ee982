#include "data/VarStreamConvert.h"

#include <cstring>

namespace dupsweep {

ByteArrayView ByteArrayView::of(const db::Value& value) {
  const auto* bytes = std::get_if<db::Bytes>(&value);
  if (!bytes) throw FormatError("The template value is not a byte array");
  return {0, static_cast<std::int64_t>(bytes->size()) - 1, bytes->data()};
}

void TStreamVariantConvert::VariantToStream(const ByteArrayView& value, TMemoryStream& stream) {
  stream.position = 0;
  const std::int64_t size = value.upperBound - value.lowerBound + 1;
  if (size < 0) throw FormatError("The byte array has invalid bounds");
  stream.bytes.resize(static_cast<std::size_t>(size));
  if (size > 0) std::memcpy(stream.bytes.data(), value.data, static_cast<std::size_t>(size));
  stream.position = 0;
}

}  // namespace dupsweep
