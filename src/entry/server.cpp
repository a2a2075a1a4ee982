#include "entry/server.h"

#include <dlfcn.h>

#include <new>

#include "entry/ComDupsweepDM.h"
#include "entry/dupsweep_object.h"
#include "platform/com/registry.h"
#include "platform/errors.h"
#include "platform/text/text.h"

namespace dupsweep::entry {

using namespace dupsweep::com;

namespace {

// UTF-16 of a message; bytes that are not UTF-8 become U+FFFD rather than losing the message.
std::u16string messageToUtf16(const std::string& message) {
  try {
    return text::utf8ToUtf16(message);
  } catch (const std::exception&) {
    std::u16string out;
    for (unsigned char c : message) out += c < 0x80 ? static_cast<char16_t>(c) : u'\uFFFD';
    return out;
  }
}

std::string versionText(WORD major, WORD minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

}  // namespace

ComServer& ComServer::instance() noexcept {
  // Never destroyed: objects a host still holds at process exit may outlive static destructors.
  static ComServer* server = new ComServer;
  return *server;
}

ULONG ComServer::factoryRelease() noexcept {
  // A release without a matching reference must not drive the count below zero.
  LONG current = factoryRefs_.load();
  while (current > 0 && !factoryRefs_.compare_exchange_weak(current, current - 1)) {
  }
  return static_cast<ULONG>(current > 0 ? current - 1 : 0);
}

std::filesystem::path ComServer::modulePath() const {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ComServer::instance), &info) == 0 ||
      info.dli_fname == nullptr || *info.dli_fname == '\0')
    throw FileError("Unable to determine the file of the component module");
  std::error_code ec;
  auto path = std::filesystem::absolute(info.dli_fname, ec);
  if (ec) throw FileError("Unable to determine the file of the component module: " + ec.message());
  return path.lexically_normal();
}

std::shared_ptr<const TypeLibInfo> ComServer::typeLib() {
  std::lock_guard lock(typeLibMutex_);
  if (!typeLib_)
    typeLib_ = std::make_shared<const TypeLibInfo>(loadTypeLibFromModule(modulePath()));
  return typeLib_;
}

DupsweepFactory& DupsweepFactory::instance() noexcept {
  static DupsweepFactory* factory = new DupsweepFactory;
  return *factory;
}

void DupsweepFactory::resolveTypeInfo() {
  std::lock_guard lock(mutex_);
  if (resolved_) return;
  auto lib = ComServer::instance().typeLib();
  const std::string name = "Dupsweep";
  const CoClassInfo* coclass = lib->findCoClass(CLSID_Dupsweep);
  if (coclass == nullptr) throw Error("Type information missing for class " + name);
  if (!(coclass->flags & TYPEFLAG_FCANCREATE) || coclass->name != name)
    throw Error("Incorrect type information for class " + name);
  const InterfaceInfo* dispatch = lib->defaultInterface(*coclass);
  if (dispatch == nullptr || !(dispatch->flags & TYPEFLAG_FDISPATCHABLE))
    throw Error("Dispatch interface missing from class " + name);
  if (!(dispatch->iid == IID_IDupsweep))
    throw Error("Incorrect type information for class " + name);
  interfaceInfo_ = ComPtr<ITypeInfo>(createTypeInfo(lib, dispatch->name));
  classInfo_ = ComPtr<ITypeInfo>(createTypeInfo(lib, coclass->name));
  className_ = coclass->name;
  description_ = coclass->helpString;
  progId_ = lib->name + "." + coclass->name;
  resolved_ = true;
}

HRESULT DupsweepFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG DupsweepFactory::AddRef() {
  return ComServer::instance().factoryAddRef();
}

ULONG DupsweepFactory::Release() {
  return ComServer::instance().factoryRelease();
}

HRESULT DupsweepFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (outer != nullptr && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  TDupsweep* object = nullptr;
  try {
    resolveTypeInfo();
    object = new TDupsweep(*this);
  } catch (const std::exception& e) {
    // A component must not block its host on a modal box; the message goes to error information.
    return errorResult(std::make_exception_ptr(Error(withFinalPeriod(e.what()))), E_UNEXPECTED);
  } catch (...) {
    return errorResult(std::current_exception(), E_UNEXPECTED);
  }
  // The new object holds one reference; dropping it after the request leaves exactly the caller's.
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

HRESULT DupsweepFactory::LockServer(BOOL lock) {
  // The external lock keeps a reference on the factory and counts as a live object.
  ComServer& server = ComServer::instance();
  if (lock) {
    ++locks_;
    AddRef();
    server.objectCreated();
    return S_OK;
  }
  LONG current = locks_.load();
  while (current > 0 && !locks_.compare_exchange_weak(current, current - 1)) {
  }
  if (current <= 0) return E_UNEXPECTED;  // an unlock without a lock would corrupt the counts
  server.objectDestroyed();
  Release();
  return S_OK;
}

HRESULT registerServer() noexcept {
  try {
    ComServer& server = ComServer::instance();
    DupsweepFactory& factory = DupsweepFactory::instance();
    factory.resolveTypeInfo();
    const auto lib = server.typeLib();
    const std::filesystem::path module = server.modulePath();
    Registry registry(Registry::defaultPath());

    // 1. The type library, from the module's own file; a failure writes no class key.
    registerTypeLib(*lib, module, module.parent_path(), registry);

    // 2. The class keys, in this order; a key that cannot be written stops here, done stays done.
    try {
      const std::string clsidKey = "CLSID\\" + guidToString(CLSID_Dupsweep);
      const std::string& progId = factory.progId();
      registry.setValue(clsidKey, "", factory.description());
      registry.setValue(clsidKey + "\\InprocServer32", "", module.string());
      registry.setValue(clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment");
      registry.setValue(progId, "", factory.description());
      registry.setValue(progId + "\\Clsid", "", guidToString(CLSID_Dupsweep));
      registry.setValue(clsidKey + "\\ProgID", "", progId);
      registry.setValue(clsidKey + "\\Version", "",
                        versionText(lib->majorVersion, lib->minorVersion));
      registry.setValue(clsidKey + "\\TypeLib", "", guidToString(lib->libid));
    } catch (const std::exception& e) {
      throw Error(std::string("Error creating system registry entry: ") + e.what());
    }
    return S_OK;
  } catch (...) {
    return errorResult(std::current_exception(), E_FAIL);
  }
}

HRESULT unregisterServer() noexcept {
  try {
    ComServer& server = ComServer::instance();
    DupsweepFactory& factory = DupsweepFactory::instance();
    factory.resolveTypeInfo();
    Registry registry(Registry::defaultPath());

    // 1. The type library; only a registry that cannot be read or written fails the removal.
    unregisterTypeLib(*server.typeLib(), registry);

    // 2-4. Children before parents; missing keys (or ones holding others) are skipped.
    const std::string clsidKey = "CLSID\\" + guidToString(CLSID_Dupsweep);
    const std::string& progId = factory.progId();
    for (const std::string& key :
         {clsidKey + "\\TypeLib", clsidKey + "\\Version", clsidKey + "\\ProgID", progId + "\\Clsid",
          progId, clsidKey + "\\InprocServer32", clsidKey})
      registry.deleteKey(key);
    return S_OK;
  } catch (...) {
    return errorResult(std::current_exception(), E_FAIL);
  }
}

HRESULT errorResult(std::exception_ptr failure, HRESULT otherwise) noexcept {
  try {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put())) || !create) return E_UNEXPECTED;
    create->SetGUID(IID_IDupsweep);
    const std::u16string source = messageToUtf16(kDupsweepProgId);
    create->SetSource(const_cast<OLECHAR*>(source.c_str()));
    HRESULT result = otherwise;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      const std::u16string description = messageToUtf16(e.what());
      create->SetDescription(const_cast<OLECHAR*>(description.c_str()));
      create->SetHelpContext(0);
      if (const auto* comError = dynamic_cast<const ComError*>(&e);
          comError && comError->hresult() < 0)
        result = comError->hresult();
    } catch (...) {
      // A failure without a message: the error information holds the interface and source only.
    }
    ComPtr<IErrorInfo> info;
    if (FAILED(create->QueryInterface(IID_IErrorInfo, info.putVoid()))) return E_UNEXPECTED;
    SetErrorInfo(0, info.get());
    return result;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

std::string withFinalPeriod(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

}  // namespace dupsweep::entry
