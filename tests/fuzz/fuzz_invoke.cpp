// Fuzz target: IDispatch::Invoke of the automation object, which decodes DISPPARAMS and coerces
// each VARIANT to its parameter's type before calling Dupsweep through the virtual table.
//
// The component's entry objects are linked into this program with a recording stand-in for the
// dialog (runExecute below), so Invoke runs exactly as in the component, through the real class
// factory, type information and error boundary, without a window.
//
// The input describes one call: the interface id, member, flags, named arguments, which out
// parameters are passed, and each argument's type and value. Types cover every one the runtime
// supports, by value and by reference (references to variants nested two deep), null references,
// null and malformed (unpaired surrogate) strings, interface pointers to a probe object that
// counts its references, and unsupported types.
//
// Properties besides "no crash": the dialog runs exactly when Invoke answers S_OK, with the
// arguments converted as the runtime documents for plain values; Invoke leaves every reference
// count as it found it and frees nothing of the caller's; a failure on an argument names an
// argument that exists; the object and its factory are gone once released.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "entry/ComDupsweepDM.h"
#include "entry/execute_binding.h"
#include "entry/qt_application.h"
#include "fuzz/fuzz_support.h"
#include "platform/com/comptr.h"
#include "platform/com/oleauto.h"
#include "platform/text/text.h"

// The module's entry point, linked into this program from the component's objects.
extern "C" dupsweep::com::HRESULT DllGetClassObject(dupsweep::com::REFCLSID rclsid,
                                                    dupsweep::com::REFIID riid, void** ppv);
extern "C" dupsweep::com::HRESULT DllCanUnloadNow();

namespace {

struct Call {
  std::string conn, unitClsCode, periodId, taskCode;
  std::int32_t level = 0;
};
std::vector<Call> calls;

}  // namespace

namespace dupsweep::entry {

// The dialog's stand-in: records the converted arguments.
void runExecute(const std::string& conn, const std::string& unitClsCode,
                const std::string& periodId, const std::string& taskCode, std::int32_t level) {
  calls.push_back(Call{conn, unitClsCode, periodId, taskCode, level});
}

}  // namespace dupsweep::entry

namespace dupsweep::fuzz {
namespace {

using namespace dupsweep::com;

constexpr std::string_view kTarget = "invoke";

// An object handed over as VT_UNKNOWN or VT_DISPATCH; Invoke may take and drop references but
// must leave the count as it found it.
class Probe final : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    check(refs_ > 0, kTarget, "a probe was released more often than referenced");
    return --refs_;
  }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  ULONG refs() const { return refs_; }

 private:
  ULONG refs_ = 1;
};

// Everything the arguments point at, owned by the caller as a host owns its arguments.
struct Storage {
  std::deque<BSTR> strings;  // freed by the caller after the call
  std::deque<VARIANT> inner;
  std::deque<BSTR> byRefStrings;
  std::deque<SHORT> shorts;
  std::deque<LONG> longs;
  std::deque<VARIANT_BOOL> bools;
  std::deque<SCODE> scodes;
  std::deque<IUnknown*> unknowns;
  std::deque<IDispatch*> dispatches;
  Probe probe;

  ~Storage() {
    for (BSTR b : strings) SysFreeString(b);
  }

  BSTR string(InputReader& in) {
    const std::uint8_t length = in.byte();
    if (length == 0xFF) return nullptr;  // a null BSTR
    std::u16string chars;
    for (std::uint8_t i = 0; i < length && in.remaining() > 0; ++i)
      chars += static_cast<char16_t>(in.u16());
    BSTR b = SysAllocStringLen(chars.data(), static_cast<UINT>(chars.size()));
    strings.push_back(b);
    return b;
  }
};

// What a plain argument converts to, when the runtime's documented rules say so simply.
struct Expected {
  std::optional<std::u16string> text;  // for a string parameter
  std::optional<std::int32_t> number;  // for the integer parameter
};

constexpr VARTYPE kTypes[] = {
    VT_EMPTY,   VT_NULL,     VT_I2, VT_I4,      VT_BOOL, VT_BSTR, VT_ERROR,
    VT_UNKNOWN, VT_DISPATCH, VT_R8, VT_VARIANT, VT_I8,   VT_UI4,  VT_HRESULT,
};

void makeArgument(InputReader& in, Storage& store, VARIANT& v, Expected& expected, int depth) {
  v.vt = VT_EMPTY;
  v.wReserved1 = v.wReserved2 = v.wReserved3 = 0;
  v.llVal = 0;
  const std::uint8_t selector = in.byte();
  if (selector == 0xFF) {  // any type number at all, with no payload
    v.vt = in.u16();       // a null payload is safe for every type, by value or by reference
    return;
  }
  const bool byRef = selector & 0x80;
  const bool nullRef = byRef && (selector & 0x40);
  const VARTYPE base = kTypes[(selector & 0x3F) % std::size(kTypes)];
  if (byRef) {
    v.vt = static_cast<VARTYPE>(base | VT_BYREF);
    if (nullRef) return;
    switch (base) {
      case VT_I2:
        v.piVal = &store.shorts.emplace_back(static_cast<SHORT>(in.u16()));
        break;
      case VT_I4:
        v.plVal = &store.longs.emplace_back(static_cast<LONG>(in.u32()));
        break;
      case VT_BOOL:
        v.pboolVal = &store.bools.emplace_back(static_cast<VARIANT_BOOL>(in.u16()));
        break;
      case VT_ERROR:
        v.pscode = &store.scodes.emplace_back(static_cast<SCODE>(in.u32()));
        break;
      case VT_BSTR:
        v.pbstrVal = &store.byRefStrings.emplace_back(store.string(in));
        break;
      case VT_UNKNOWN:
        v.ppunkVal = &store.unknowns.emplace_back(in.byte() & 1 ? &store.probe : nullptr);
        break;
      case VT_DISPATCH:
        v.ppdispVal = &store.dispatches.emplace_back(in.byte() & 1 ? &store.probe : nullptr);
        break;
      case VT_VARIANT:
        if (depth >= 2) {
          v.pvarVal = nullptr;
        } else {
          Expected ignored;
          VARIANT& target = store.inner.emplace_back();
          makeArgument(in, store, target, ignored, depth + 1);
          v.pvarVal = &target;
        }
        break;
      default:
        v.byref = &store.longs.emplace_back(0);  // a reference to a type with no by-ref form
        break;
    }
    return;
  }
  v.vt = base;
  switch (base) {
    case VT_EMPTY:
      expected.text = u"";
      expected.number = 0;
      break;
    case VT_I2:
      v.iVal = static_cast<SHORT>(in.u16());
      expected.text = text::utf8ToUtf16(std::to_string(v.iVal));
      expected.number = v.iVal;
      break;
    case VT_I4:
      v.lVal = static_cast<LONG>(in.u32());
      expected.text = text::utf8ToUtf16(std::to_string(v.lVal));
      expected.number = v.lVal;
      break;
    case VT_BOOL:
      v.boolVal = static_cast<VARIANT_BOOL>(in.u16());
      expected.text = v.boolVal ? u"-1" : u"0";
      expected.number = v.boolVal ? -1 : 0;
      break;
    case VT_BSTR:
      v.bstrVal = store.string(in);
      expected.text = std::u16string(BString::view(v.bstrVal));
      break;
    case VT_ERROR:
      v.scode = static_cast<SCODE>(in.u32());
      break;
    case VT_UNKNOWN:
      v.punkVal = in.byte() & 1 ? &store.probe : nullptr;
      break;
    case VT_DISPATCH:
      v.pdispVal = in.byte() & 1 ? &store.probe : nullptr;
      break;
    default:
      v.llVal = static_cast<std::int64_t>(in.u32());  // unsupported: the payload is never read
      break;
  }
}

bool isArgumentFailure(HRESULT hr) {
  return hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_BADVARTYPE ||
         hr == E_INVALIDARG;
}

ComPtr<IDispatch> createObject() {
  ComPtr<IClassFactory> factory;
  check(DllGetClassObject(CLSID_Dupsweep, IID_IClassFactory, factory.putVoid()) == S_OK, kTarget,
        "no class factory");
  ComPtr<IDispatch> object;
  check(factory->CreateInstance(nullptr, IID_IDispatch, object.putVoid()) == S_OK, kTarget,
        "the factory made no object");
  return object;
}

}  // namespace

void initFuzzInvoke() {
  static const bool done = [] {
    // The method makes sure a QApplication exists; here it needs no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("DUPSWEEP_ALLOW_HIDDEN_DIALOG", "1", 1);
    entry::ensureApplication();
    return true;
  }();
  (void)done;
}

void fuzzInvoke(const std::uint8_t* data, std::size_t size) {
  initFuzzInvoke();
  InputReader in(data, size);
  const std::uint8_t shape = in.byte();
  const IID& riid = (shape & 0x80) ? IID_IDispatch : IID_NULL;
  const DISPID member = (shape & 0x40) ? static_cast<DISPID>(in.u32()) : DISPID_Dupsweep;
  const WORD flags = (shape & 0x20) ? in.u16() : DISPATCH_METHOD;
  const std::uint8_t count = in.byte();
  const UINT cArgs = count < 0xC0 ? 4 : count % 8;
  const UINT cNamed = (shape & 0x10) ? 1 + in.byte() % 2 : 0;

  Storage store;
  std::vector<VARIANT> args(cArgs);
  std::vector<Expected> expected(cArgs);
  for (UINT i = 0; i < cArgs; ++i) makeArgument(in, store, args[i], expected[i], 0);
  std::vector<DISPID> named(cNamed);
  for (auto& id : named) id = static_cast<DISPID>(in.u32());
  const std::vector<VARIANT> argsBefore = args;

  DISPPARAMS params{(shape & 0x08) && cArgs > 0 ? nullptr : args.data(),
                    cNamed > 0 ? named.data() : nullptr, cArgs, cNamed};
  VARIANT result;
  result.vt = VT_I4;
  result.lVal = 7;
  EXCEPINFO excep{};
  UINT argErr = 0xDEADu;
  calls.clear();

  {
    ComPtr<IDispatch> object = createObject();
    const HRESULT hr =
        object->Invoke(member, riid, 0, flags, &params, (shape & 0x04) ? &result : nullptr,
                       (shape & 0x02) ? &excep : nullptr, (shape & 0x01) ? &argErr : nullptr);

    check(calls.size() == (hr == S_OK ? 1u : 0u), kTarget,
          "the method ran although Invoke failed, or not although it succeeded");
    if (hr == S_OK) {
      check(!(shape & 0x04) || result.vt == VT_EMPTY, kTarget, "the result is not VT_EMPTY");
      // Arguments arrive last first: rgvarg[3] is Conn, [2] UnitClsCode, [1] TaskCode, [0] nLevel.
      const Call& call = calls.front();
      const auto textIs = [](const std::optional<std::u16string>& want, const std::string& got) {
        return !want || text::utf8ToUtf16(got) == *want;
      };
      check(textIs(expected[3].text, call.conn), kTarget, "Conn converted wrongly");
      check(textIs(expected[2].text, call.unitClsCode), kTarget, "UnitClsCode converted wrongly");
      check(textIs(expected[1].text, call.taskCode), kTarget, "TaskCode converted wrongly");
      check(call.periodId.empty(), kTarget, "a period id was passed");
      check(!expected[0].number || *expected[0].number == call.level, kTarget,
            "nLevel converted wrongly");
    } else if (hr == DISP_E_EXCEPTION) {
      check(!(shape & 0x02) || excep.scode < 0, kTarget, "an exception without a failure code");
    } else if (isArgumentFailure(hr) && (shape & 0x01) && argErr != 0xDEADu) {
      check(argErr < cArgs, kTarget, "the failing argument's position is out of range");
    }
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);

  // The caller's arguments are untouched and every reference taken was given back.
  for (UINT i = 0; i < cArgs; ++i)
    check(std::memcmp(&args[i], &argsBefore[i], sizeof(VARIANT)) == 0, kTarget,
          "Invoke changed an argument");
  check(store.probe.refs() == 1, kTarget, "Invoke leaked or over-released a reference");
  check(DllCanUnloadNow() == S_OK, kTarget, "the object or its factory outlived its release");
}

}  // namespace dupsweep::fuzz

#ifdef DUPSWEEP_FUZZ_MAIN
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  dupsweep::fuzz::initFuzzInvoke();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dupsweep::fuzz::fuzzInvoke(data, size);
  return 0;
}
#endif
