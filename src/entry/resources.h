#pragma once
// The module's embedded resources, in ELF sections of its file; the server reads them from there.

namespace dupsweep::entry {

// "1.0.0.0".
const char* moduleVersion() noexcept;

}  // namespace dupsweep::entry
