#pragma once
// The module's embedded resources. The type library text and the version resource sit in the
// ELF sections com::kTypeLibSection and com::kVersionSection of the module's file; the server
// reads them from there (com::loadTypeLibFromModule), never from memory.

namespace dupsweep::entry {

// The module's file and product version, "1.0.0.0".
const char* moduleVersion() noexcept;

}  // namespace dupsweep::entry
