#pragma once
// Type libraries, read from a text form in the component's ELF section (one statement a line:
// library, interface, method, param, coclass...), registered, and served as ITypeInfo. An
// interface's n-th method sits in virtual-table slot 7 + n.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com.h"

namespace dupsweep::com {

class Registry;

inline constexpr std::string_view kTypeLibSection = ".dupsweep_typelib";
// The module's version resource ("FileVersion=1.0.0.0" lines).
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
  int vtableSlot = 0;
};

struct InterfaceInfo {
  std::string name;
  IID iid{};
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  std::string helpString;
  WORD flags = 0;  // TYPEFLAG_*
  std::vector<MethodInfo> methods;

  // Null when absent.
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

  // Names without regard to ASCII case; null when absent.
  const InterfaceInfo* findInterface(const IID& iid) const noexcept;
  const InterfaceInfo* findInterface(std::string_view name) const noexcept;
  const CoClassInfo* findCoClass(const CLSID& clsid) const noexcept;
  // The one flagged default, not source; or null.
  const InterfaceInfo* defaultInterface(const CoClassInfo& coclass) const noexcept;
};

// Throws FormatError naming the line of the first fault.
TypeLibInfo parseTypeLib(std::string_view text);

// Throws FileError when unreadable, FormatError when not ELF or without the section.
std::string readModuleSection(const std::filesystem::path& file, std::string_view section);

TypeLibInfo loadTypeLibFromModule(const std::filesystem::path& module);

// TypeLib\{LIBID}\<version> (with 0\win32, FLAGS, HELPDIR) and Interface\{IID} with the automation
// marshaler as proxy/stub. Throws what Registry throws.
void registerTypeLib(const TypeLibInfo& lib, const std::filesystem::path& module,
                     const std::filesystem::path& helpDir, Registry& registry);

// Keys already missing are skipped; TypeLib\{LIBID} and Interface\{IID} stay when something else
// lives under them. Throws only when the registry cannot be read or written.
void unregisterTypeLib(const TypeLibInfo& lib, Registry& registry);

// A new ITypeInfo (one reference, the caller's). Throws Error when there is no such type. Invoke
// calls through the instance's virtual table, converting each argument.
ITypeInfo* createTypeInfo(std::shared_ptr<const TypeLibInfo> lib, std::string_view name);

}  // namespace dupsweep::com
