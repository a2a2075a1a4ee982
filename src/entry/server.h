#pragma once
// The module's COM server: object and factory counts, the type library, the class factory,
// registration, and failures turned into HRESULTs with error information.

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

  // Objects and server locks both count.
  void objectCreated() noexcept { ++objects_; }
  void objectDestroyed() noexcept { --objects_; }
  // Returns the new count.
  com::ULONG factoryAddRef() noexcept { return static_cast<com::ULONG>(++factoryRefs_); }
  com::ULONG factoryRelease() noexcept;

  com::LONG objectCount() const noexcept { return objects_.load(); }
  com::LONG factoryCount() const noexcept { return factoryRefs_.load(); }
  bool canUnloadNow() const noexcept { return objects_.load() == 0 && factoryRefs_.load() == 0; }

  // Absolute, found with dladdr. Throws FileError.
  std::filesystem::path modulePath() const;

  // Read on first use and kept. Throws FileError or FormatError.
  std::shared_ptr<const com::TypeLibInfo> typeLib();

 private:
  std::atomic<com::LONG> objects_{0};
  std::atomic<com::LONG> factoryRefs_{0};
  std::mutex typeLibMutex_;
  std::shared_ptr<const com::TypeLibInfo> typeLib_;
};

// Multiple instances, apartment threading. AddRef and Release count the server's factory
// references and never destroy it.
class DupsweepFactory final : public com::IClassFactory {
 public:
  static DupsweepFactory& instance() noexcept;

  // Once. Throws Error ("Type information missing for class Dupsweep", "Incorrect type
  // information...", "Dispatch interface missing...") when the type library does not match.
  void resolveTypeInfo();

  // Available once resolveTypeInfo() has succeeded.
  com::ITypeInfo* interfaceTypeInfo() const noexcept { return interfaceInfo_.get(); }
  com::ITypeInfo* classTypeInfo() const noexcept { return classInfo_.get(); }
  // From the type library.
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

// The type library, then the class keys; S_OK or E_FAIL with error information.
com::HRESULT registerServer() noexcept;

// Children before parents; keys already missing or still holding others are skipped. S_OK, or
// E_FAIL with error information.
com::HRESULT unregisterServer() noexcept;

// Installs error information (IDupsweep, ComDupsweepDM.Dupsweep, the message) for the thread and
// returns a ComError's negative code, else `otherwise`; E_UNEXPECTED when none can be made.
com::HRESULT errorResult(std::exception_ptr failure, com::HRESULT otherwise) noexcept;

// "." appended unless the message ends in a character at or before "." in byte order.
std::string withFinalPeriod(std::string message);

}  // namespace dupsweep::entry
