// The type library and the version resource in ELF sections of their own; `used` keeps them
// although no code refers to them.
#include "entry/resources.h"

#ifndef DUPSWEEP_MODULE_VERSION
#error "DUPSWEEP_MODULE_VERSION must name the module's version"
#endif

namespace dupsweep::entry {

namespace {

[[gnu::section(".dupsweep_typelib"), gnu::used]] const char kTypeLibrary[] = R"(typelib 1
# ComDupsweepDM: the duplicate-data cleanup component.
library ComDupsweepDM {DC3795E8-F4A2-438E-B25F-2D4AEFA78AFB} 1.0 "ComDupsweepDM Library"
lcid 0
syskind win32
importlib stdole2.tlb

interface IDupsweep {D4BD3F08-5A14-4459-A836-4290ECC6564D} 1.0 "Dispatch interface for Dupsweep Object"
flags dual oleautomation dispatchable
base IDispatch
method Dupsweep 201 HRESULT
param Conn BSTR in
param UnitClsCode BSTR in
param TaskCode BSTR in
param nLevel I4 in

coclass Dupsweep {FFA2B78B-76C3-441B-970C-230A0520B297} 1.0 "Dupsweep Object"
flags cancreate
implements IDupsweep default
)";

[[gnu::section(".dupsweep_version"), gnu::used]] const char kVersionResource[] =
    "FileVersion=" DUPSWEEP_MODULE_VERSION
    "\n"
    "ProductVersion=" DUPSWEEP_MODULE_VERSION
    "\n"
    "ProductName=ComDupsweepDM\n";

}  // namespace

const char* moduleVersion() noexcept {
  return DUPSWEEP_MODULE_VERSION;
}

}  // namespace dupsweep::entry
