// dupsweep-host: stands in for the reporting system's host application. It registers and removes
// the component, and creates the Dupsweep object from the registry (ProgID -> CLSID ->
// InprocServer32 -> DllGetClassObject -> CreateInstance) to call its method early-bound through the
// virtual table or late-bound through IDispatch. It prints the HRESULT and any error information
// and exits 0 only when the result is S_OK.
#include <dlfcn.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "entry/ComDupsweepDM.h"
#include "platform/com/comptr.h"
#include "platform/com/registry.h"
#include "platform/text/text.h"

using namespace dupsweep::com;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void usage() {
  std::fputs(
      "usage: dupsweep-host register LIBRARY\n"
      "       dupsweep-host unregister LIBRARY\n"
      "       dupsweep-host call [--progid PROGID | --clsid {CLSID}] [--conn TEXT]\n"
      "                          [--unitcls TEXT] [--task TEXT] [--level N] [--late-bound]\n"
      "The registry file is $DUPSWEEP_REGISTRY (default ~/.config/dupsweep/registry.reg).\n",
      stderr);
}

std::string toUtf8(std::u16string_view text) {
  try {
    return dupsweep::text::utf16ToUtf8(text);
  } catch (const std::exception&) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
  }
}

void printResult(const char* what, HRESULT hr) {
  std::printf("%s: %s\n", what, hresultToString(hr).c_str());
}

void printErrorInfo(IErrorInfo* info) {
  BString description, source;
  info->GetDescription(description.put());
  info->GetSource(source.put());
  std::printf("Description: %s\nSource: %s\n", toUtf8(description.view()).c_str(),
              toUtf8(source.view()).c_str());
}

// Prints the thread's error information, if any.
void printThreadErrorInfo() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) printErrorInfo(info.get());
}

void* openLibrary(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr)
    std::fprintf(stderr, "dupsweep-host: cannot load %s: %s\n", path.c_str(), ::dlerror());
  return handle;
}

int registration(const std::string& library, bool remove) {
  void* handle = openLibrary(library);
  if (handle == nullptr) return kExitFailure;
  const char* name = remove ? "DllUnregisterServer" : "DllRegisterServer";
  auto entry = reinterpret_cast<DllRegisterServerFunction>(::dlsym(handle, name));
  if (entry == nullptr) {
    std::fprintf(stderr, "dupsweep-host: %s does not export %s\n", library.c_str(), name);
    return kExitFailure;
  }
  const HRESULT hr = entry();
  printResult(name, hr);
  if (hr != S_OK) printThreadErrorInfo();
  return hr == S_OK ? 0 : kExitFailure;
}

struct CallOptions {
  std::string progId = dupsweep::kDupsweepProgId;
  std::string clsid;
  std::string conn, unitCls, task;
  LONG level = 0;
  bool lateBound = false;
};

// The class's module from the registry; prints why when it cannot be found.
bool findServer(const CallOptions& options, CLSID& clsid, std::string& module) {
  Registry registry(Registry::defaultPath());
  std::string clsidText = options.clsid;
  if (clsidText.empty()) {
    const auto value = registry.getValue(options.progId + "\\Clsid", "");
    if (!value) {
      std::fprintf(stderr, "dupsweep-host: ProgID %s is not registered\n", options.progId.c_str());
      return false;
    }
    clsidText = *value;
  }
  const auto parsed = parseGuid(clsidText);
  if (!parsed) {
    std::fprintf(stderr, "dupsweep-host: \"%s\" is not a class identifier\n", clsidText.c_str());
    return false;
  }
  clsid = *parsed;
  const auto path = registry.getValue("CLSID\\" + guidToString(clsid) + "\\InprocServer32", "");
  if (!path || path->empty()) {
    std::fprintf(stderr, "dupsweep-host: class %s has no InprocServer32\n",
                 guidToString(clsid).c_str());
    return false;
  }
  module = *path;
  return true;
}

int call(const CallOptions& options) {
  CLSID clsid;
  std::string module;
  if (!findServer(options, clsid, module)) {
    printResult("CreateObject", REGDB_E_CLASSNOTREG);
    return kExitFailure;
  }
  void* handle = openLibrary(module);
  if (handle == nullptr) return kExitFailure;
  auto getClassObject =
      reinterpret_cast<DllGetClassObjectFunction>(::dlsym(handle, "DllGetClassObject"));
  if (getClassObject == nullptr) {
    std::fprintf(stderr, "dupsweep-host: %s does not export DllGetClassObject\n", module.c_str());
    return kExitFailure;
  }
  ComPtr<IClassFactory> factory;
  HRESULT hr = getClassObject(clsid, IID_IClassFactory, factory.putVoid());
  if (FAILED(hr)) {
    printResult("DllGetClassObject", hr);
    printThreadErrorInfo();
    return kExitFailure;
  }
  const IID& wanted = options.lateBound ? IID_IDispatch : dupsweep::IID_IDupsweep;
  ComPtr<IUnknown> object;
  hr = factory->CreateInstance(nullptr, wanted, object.putVoid());
  if (FAILED(hr)) {
    printResult("CreateInstance", hr);
    printThreadErrorInfo();
    return kExitFailure;
  }
  factory.reset();

  const BString conn(dupsweep::text::utf8ToUtf16(options.conn));
  const BString unitCls(dupsweep::text::utf8ToUtf16(options.unitCls));
  const BString task(dupsweep::text::utf8ToUtf16(options.task));

  if (!options.lateBound) {
    auto* dupsweep = static_cast<dupsweep::IDupsweep*>(object.get());
    hr = dupsweep->Dupsweep(conn.get(), unitCls.get(), task.get(), options.level);
    printResult("Dupsweep", hr);
    if (FAILED(hr)) {
      ComPtr<ISupportErrorInfo> support;
      if (SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, support.putVoid())) &&
          support->InterfaceSupportsErrorInfo(dupsweep::IID_IDupsweep) == S_OK)
        printThreadErrorInfo();
    }
    return hr == S_OK ? 0 : kExitFailure;
  }

  auto* dispatch = static_cast<IDispatch*>(object.get());
  OLECHAR name[] = u"Dupsweep";
  LPOLESTR names[] = {name};
  DISPID dispid = DISPID_UNKNOWN;
  hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid);
  if (FAILED(hr)) {
    printResult("GetIDsOfNames", hr);
    return kExitFailure;
  }
  // Arguments go last first.
  VARIANT args[4];
  args[3].vt = VT_BSTR;
  args[3].bstrVal = conn.get();
  args[2].vt = VT_BSTR;
  args[2].bstrVal = unitCls.get();
  args[1].vt = VT_BSTR;
  args[1].bstrVal = task.get();
  args[0].vt = VT_I4;
  args[0].lVal = options.level;
  DISPPARAMS params{args, nullptr, 4, 0};
  EXCEPINFO excep{};
  UINT argErr = 0;
  Variant result;
  hr = dispatch->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, result.ptr(), &excep,
                        &argErr);
  printResult("Invoke", hr);
  if (hr == DISP_E_EXCEPTION) {
    printResult("Exception", excep.scode);
    std::printf("Description: %s\nSource: %s\n",
                toUtf8(BString::view(excep.bstrDescription)).c_str(),
                toUtf8(BString::view(excep.bstrSource)).c_str());
  } else if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) {
    std::printf("Argument: %u\n", argErr);
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  return hr == S_OK ? 0 : kExitFailure;
}

int run(int argc, char** argv) {
  if (argc < 2) {
    usage();
    return kExitUsage;
  }
  const std::string_view command = argv[1];
  if (command == "register" || command == "unregister") {
    if (argc != 3) {
      usage();
      return kExitUsage;
    }
    return registration(argv[2], command == "unregister");
  }
  if (command != "call") {
    usage();
    return kExitUsage;
  }
  CallOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--late-bound") {
      options.lateBound = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "dupsweep-host: %s needs a value\n", argv[i]);
      return kExitUsage;
    }
    const std::string value = argv[++i];
    if (option == "--progid") {
      options.progId = value;
    } else if (option == "--clsid") {
      options.clsid = value;
    } else if (option == "--conn") {
      options.conn = value;
    } else if (option == "--unitcls") {
      options.unitCls = value;
    } else if (option == "--task") {
      options.task = value;
    } else if (option == "--level") {
      const auto [end, ec] =
          std::from_chars(value.data(), value.data() + value.size(), options.level);
      if (ec != std::errc() || end != value.data() + value.size()) {
        std::fprintf(stderr, "dupsweep-host: --level needs a 32-bit integer, not \"%s\"\n",
                     value.c_str());
        return kExitUsage;
      }
    } else {
      std::fprintf(stderr, "dupsweep-host: unknown option %s\n", argv[i - 1]);
      usage();
      return kExitUsage;
    }
  }
  return call(options);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "dupsweep-host: %s\n", e.what());
    return kExitFailure;
  }
}
