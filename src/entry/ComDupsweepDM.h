#pragma once
// The component's public interface for its hosts: the identifiers of its type library, interface
// and class, and IDupsweep (also reachable late-bound through IDispatch).

#include "platform/com/com.h"

namespace dupsweep {

// Type library ComDupsweepDM 1.0.
inline constexpr com::GUID LIBID_ComDupsweepDM = {
    0xDC3795E8, 0xF4A2, 0x438E, {0xB2, 0x5F, 0x2D, 0x4A, 0xEF, 0xA7, 0x8A, 0xFB}};
// Interface IDupsweep 1.0 (dual).
inline constexpr com::IID IID_IDupsweep = {
    0xD4BD3F08, 0x5A14, 0x4459, {0xA8, 0x36, 0x42, 0x90, 0xEC, 0xC6, 0x56, 0x4D}};
// Class Dupsweep 1.0.
inline constexpr com::CLSID CLSID_Dupsweep = {
    0xFFA2B78B, 0x76C3, 0x441B, {0x97, 0x0C, 0x23, 0x0A, 0x05, 0x20, 0xB2, 0x97}};

// The ProgID under which the class is registered.
inline constexpr char kDupsweepProgId[] = "ComDupsweepDM.Dupsweep";
// Dispatch identifier of IDupsweep.Dupsweep.
inline constexpr com::DISPID DISPID_Dupsweep = 201;

// Virtual table: the three IUnknown slots, the four IDispatch slots, then Dupsweep (slot 7).
struct IDupsweep : com::IDispatch {
  // Shows the duplicate-cleanup dialog and returns once the operator has closed it. Null strings
  // read as empty.
  virtual com::HRESULT Dupsweep(com::BSTR Conn, com::BSTR UnitClsCode, com::BSTR TaskCode,
                                com::LONG nLevel) = 0;

 protected:
  ~IDupsweep() = default;
};

}  // namespace dupsweep
