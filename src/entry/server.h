#pragma once
// The module's COM server: the server object (live-object and factory-reference counts, the type
// library loaded from the module's own file), the class factory of Dupsweep, registration and
// removal, and the conversion of a failure into an HRESULT with error information.

#include <atomic>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com/comptr.h"
#include "platform/com/typelib.h"

namespace dupsweep::entry {

// One per module, created when the module is loaded.
class ComServer {
 public:
  static ComServer& instance() noexcept;

  // A live object was made / destroyed (objects and server locks both count).
  void objectCreated() noexcept { ++objects_; }
  void objectDestroyed() noexcept { --objects_; }
  // A reference on a factory was taken / dropped; returns the new count.
  com::ULONG factoryAddRef() noexcept { return static_cast<com::ULONG>(++factoryRefs_); }
  com::ULONG factoryRelease() noexcept;

  com::LONG objectCount() const noexcept { return objects_.load(); }
  com::LONG factoryCount() const noexcept { return factoryRefs_.load(); }
  // True when no object is alive, no server lock is held and no factory is referenced.
  bool canUnloadNow() const noexcept { return objects_.load() == 0 && factoryRefs_.load() == 0; }

  // Full path of the module's file (found with dladdr), absolute. Throws FileError.
  std::filesystem::path modulePath() const;

  // The type library embedded in the module's file, read on first use and kept. Throws
  // FileError or FormatError when the file cannot be read or its type library is malformed.
  std::shared_ptr<const com::TypeLibInfo> typeLib();

 private:
  std::atomic<com::LONG> objects_{0};
  std::atomic<com::LONG> factoryRefs_{0};
  std::mutex typeLibMutex_;
  std::shared_ptr<const com::TypeLibInfo> typeLib_;
};

// The class factory of Dupsweep: multiple instances, apartment threading, error interface
// IDupsweep. Its AddRef and Release count the server's factory references and never destroy it.
class DupsweepFactory final : public com::IClassFactory {
 public:
  static DupsweepFactory& instance() noexcept;

  // Finds the class and its dispatch interface in the type library, once. Throws Error with
  // "Type information missing for class Dupsweep", "Incorrect type information for class
  // Dupsweep" or "Dispatch interface missing from class Dupsweep" when they do not match.
  void resolveTypeInfo();

  // Available once resolveTypeInfo() has succeeded.
  com::ITypeInfo* interfaceTypeInfo() const noexcept { return interfaceInfo_.get(); }
  com::ITypeInfo* classTypeInfo() const noexcept { return classInfo_.get(); }
  // "Dupsweep", "Dupsweep Object", "ComDupsweepDM.Dupsweep" from the type library.
  const std::string& className() const noexcept { return className_; }
  const std::string& description() const noexcept { return description_; }
  const std::string& progId() const noexcept { return progId_; }

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
  com::ULONG AddRef() override;
  com::ULONG Release() override;
  com::HRESULT CreateInstance(com::IUnknown* outer, com::REFIID riid, void** ppv) override;
  com::HRESULT LockServer(com::BOOL lock) override;

 private:
  std::mutex mutex_;
  bool resolved_ = false;
  com::ComPtr<com::ITypeInfo> interfaceInfo_;
  com::ComPtr<com::ITypeInfo> classInfo_;
  std::string className_;
  std::string description_;
  std::string progId_;
  std::atomic<com::LONG> locks_{0};
};

// DllRegisterServer: the type library, then the class keys in their fixed order. S_OK, or E_FAIL
// with error information describing the failure.
com::HRESULT registerServer() noexcept;

// DllUnregisterServer: the type library, then the class keys, children before parents; keys
// already missing (or still holding other subkeys) are skipped. S_OK, or E_FAIL with error
// information when the registry or the module's type library cannot be read or written.
com::HRESULT unregisterServer() noexcept;

// Turns the failure `failure` into the result of a call at the COM boundary: installs error
// information (interface IDupsweep, source ComDupsweepDM.Dupsweep, the failure's message as
// description) for the calling thread and returns the failure's HRESULT when it is a ComError
// with a negative code, `otherwise` for any other failure, E_UNEXPECTED when no error
// information can be made.
com::HRESULT errorResult(std::exception_ptr failure, com::HRESULT otherwise) noexcept;

// The operator-facing form of a message: "." appended unless the message already ends in a
// character at or before "." in byte order.
std::string withFinalPeriod(std::string message);

}  // namespace dupsweep::entry
