#pragma once
// Type libraries: the description of a component's library, interfaces and classes, read from a
// compact text form that the component carries in its own file, registered in the registry, and
// served to callers as ITypeInfo.
//
// The text form, one statement per line ('#' starts a comment line; strings in double quotes
// with \" and \\ escaped):
//
//   typelib 1
//   library ComDupsweepDM {LIBID} 1.0 "help string"        lcid, syskind win32, importlib follow
//   lcid 0                                                  as their own lines
//   syskind win32
//   importlib stdole2.tlb
//   interface IDupsweep {IID} 1.0 "help string"
//   flags dual oleautomation dispatchable                  (also: hidden nonextensible)
//   base IDispatch
//   method Dupsweep 201 HRESULT                             a method of the last interface
//   param Conn BSTR in                                      a parameter of the last method
//   coclass Dupsweep {CLSID} 1.0 "help string"
//   flags cancreate                                         (also: appobject hidden)
//   implements IDupsweep default                            (also: source)
//
// Parameter types: BSTR, I2, I4, BOOL, VARIANT. Methods return HRESULT and take their parameters
// by value; interfaces derive from IDispatch, so an interface's n-th method (from 0) sits in
// virtual-table slot 7 + n.
//
// A component embeds the text in an ELF section of its shared library (kTypeLibSection) and
// loads it from its own file, so what is registered is what the file carries.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com.h"

namespace dupsweep::com {

class Registry;

// Name of the ELF section that carries a module's type library.
inline constexpr std::string_view kTypeLibSection = ".dupsweep_typelib";
// Name of the ELF section that carries a module's version resource ("FileVersion=1.0.0.0" lines).
inline constexpr std::string_view kVersionSection = ".dupsweep_version";

struct ParamInfo {
  std::string name;
  VARTYPE type = VT_EMPTY;
  USHORT flags = PARAMFLAG_FIN;
};

struct MethodInfo {
  std::string name;
  DISPID dispid = 0;
  std::vector<ParamInfo> params;
  int vtableSlot = 0;  // index into the interface's virtual table
};

struct InterfaceInfo {
  std::string name;
  IID iid{};
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  std::string helpString;
  WORD flags = 0;  // TYPEFLAG_*
  std::vector<MethodInfo> methods;

  // The method with `dispid`, or null.
  const MethodInfo* findMethod(DISPID dispid) const noexcept;
};

struct ImplementedInterface {
  std::string name;
  INT flags = 0;  // IMPLTYPEFLAG_*
};

struct CoClassInfo {
  std::string name;
  CLSID clsid{};
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  std::string helpString;
  WORD flags = 0;  // TYPEFLAG_*
  std::vector<ImplementedInterface> interfaces;
};

struct TypeLibInfo {
  std::string name;
  GUID libid{};
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  std::string helpString;
  LCID lcid = 0;
  SYSKIND syskind = SYS_WIN32;
  std::string importLib;
  std::vector<InterfaceInfo> interfaces;
  std::vector<CoClassInfo> coclasses;

  // Lookups by identifier or by name (names without regard to ASCII case); null when absent.
  const InterfaceInfo* findInterface(const IID& iid) const noexcept;
  const InterfaceInfo* findInterface(std::string_view name) const noexcept;
  const CoClassInfo* findCoClass(const CLSID& clsid) const noexcept;
  // The default interface of a class (the one flagged default, not source), or null.
  const InterfaceInfo* defaultInterface(const CoClassInfo& coclass) const noexcept;
};

// Parses the text form. Throws FormatError naming the line of the first fault (unknown
// statement, missing or malformed field, duplicate name or dispatch identifier, reference to an
// unknown interface).
TypeLibInfo parseTypeLib(std::string_view text);

// The bytes of ELF section `section` of the shared object or program `file`. Throws FileError
// when the file cannot be read and FormatError when it is not an ELF file or lacks the section.
std::string readModuleSection(const std::filesystem::path& file, std::string_view section);

// The type library embedded in `module` (readModuleSection + parseTypeLib).
TypeLibInfo loadTypeLibFromModule(const std::filesystem::path& module);

// Writes the registry keys of the library and of its OLE-automation interfaces:
// TypeLib\{LIBID}\<major.minor> (help string), ...\0\win32 (module path), ...\FLAGS ("0"),
// ...\HELPDIR (help directory); Interface\{IID} (name) with ProxyStubClsid, ProxyStubClsid32 (the
// automation marshaler) and TypeLib (LIBID, "Version" major.minor). Throws what Registry throws.
void registerTypeLib(const TypeLibInfo& lib, const std::filesystem::path& module,
                     const std::filesystem::path& helpDir, Registry& registry);

// Removes the keys registerTypeLib writes; keys already missing are skipped, and the
// TypeLib\{LIBID} and Interface\{IID} keys stay when something else still lives under them. Throws
// FormatError or FileError only when the registry cannot be read or written.
void unregisterTypeLib(const TypeLibInfo& lib, Registry& registry);

// Type information of the interface or class named `name` of a shared library description, as a
// new ITypeInfo (one reference, owned by the caller). Throws Error when the library has no such
// type. A dispatch interface's Invoke calls the method through the virtual table of the
// instance, converting each argument to the parameter's type.
ITypeInfo* createTypeInfo(std::shared_ptr<const TypeLibInfo> lib, std::string_view name);

}  // namespace dupsweep::com
