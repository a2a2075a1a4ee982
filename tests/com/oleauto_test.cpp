// The automation runtime: BSTR layout, VARIANT conversion, per-thread error information, GUIDs.
#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <thread>

#include "platform/com/comptr.h"

namespace dupsweep::com {
namespace {

using namespace std::string_view_literals;

TEST(Bstr, CarriesByteLengthBeforeTheCharactersAndATerminatingZero) {
  const std::u16string_view text = u"ab\0c"sv;  // embedded zero kept
  BString s(text);
  ASSERT_NE(s.get(), nullptr);
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(s.get()) - 4, 4);
  EXPECT_EQ(prefix, 8u);
  EXPECT_EQ(SysStringLen(s.get()), 4u);
  EXPECT_EQ(SysStringByteLen(s.get()), 8u);
  EXPECT_EQ(s.get()[4], u'\0');
  EXPECT_EQ(s.view(), text);
}

TEST(Bstr, NullReadsAsEmpty) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(BString::view(nullptr), u"");
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);
  BSTR zeroed = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(std::u16string_view(zeroed, 4), u"\0\0\0\0"sv);
  SysFreeString(zeroed);
  BSTR copy = SysAllocString(u"Dupsweep");
  EXPECT_EQ(BString::view(copy), u"Dupsweep");
  SysFreeString(copy);
}

// Converts `src` to `vt`; returns the HRESULT and leaves the result in `out`.
HRESULT change(const VARIANT& src, VARTYPE vt, Variant& out, USHORT flags = 0) {
  return VariantChangeType(out.ptr(), &src, flags, vt);
}

VARIANT i4(LONG v) {
  VARIANT x;
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}

TEST(VariantChangeType, NumbersToI4) {
  Variant out;
  VARIANT src;
  src.vt = VT_I2;
  src.iVal = -12;
  ASSERT_EQ(change(src, VT_I4, out), S_OK);
  EXPECT_EQ(out.get().vt, VT_I4);
  EXPECT_EQ(out.get().lVal, -12);

  src.vt = VT_BOOL;
  src.boolVal = VARIANT_TRUE;
  ASSERT_EQ(change(src, VT_I4, out), S_OK);
  EXPECT_EQ(out.get().lVal, -1);
  src.boolVal = VARIANT_FALSE;
  ASSERT_EQ(change(src, VT_I4, out), S_OK);
  EXPECT_EQ(out.get().lVal, 0);

  src.vt = VT_EMPTY;
  ASSERT_EQ(change(src, VT_I4, out), S_OK);
  EXPECT_EQ(out.get().lVal, 0);

  src.vt = VT_NULL;
  EXPECT_EQ(change(src, VT_I4, out), DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, TextToI4) {
  struct Case {
    std::u16string_view text;
    HRESULT hr;
    LONG value;
  };
  const Case cases[] = {
      {u"42", S_OK, 42},
      {u"  -7 ", S_OK, -7},
      {u"+3", S_OK, 3},
      {u"2147483647", S_OK, 2147483647},
      {u"-2147483648", S_OK, -2147483647 - 1},
      {u"4.5", S_OK, 4},  // half to even
      {u"5.5", S_OK, 6},
      {u"5.51", S_OK, 6},
      {u"2147483648", DISP_E_OVERFLOW, 0},
      {u"99999999999999999999999", DISP_E_OVERFLOW, 0},
      {u"abc", DISP_E_TYPEMISMATCH, 0},
      {u"12abc", DISP_E_TYPEMISMATCH, 0},
      {u"", DISP_E_TYPEMISMATCH, 0},
      {u"-", DISP_E_TYPEMISMATCH, 0},
  };
  for (const Case& c : cases) {
    BString text(c.text);
    VARIANT src;
    src.vt = VT_BSTR;
    src.bstrVal = text.get();
    Variant out;
    EXPECT_EQ(change(src, VT_I4, out), c.hr) << std::string(c.text.begin(), c.text.end());
    if (c.hr == S_OK)
      EXPECT_EQ(out.get().lVal, c.value);
    else
      EXPECT_EQ(out.get().vt, VT_EMPTY);  // destination unchanged on failure
  }
}

TEST(VariantChangeType, I4ToI2ChecksRange) {
  Variant out;
  EXPECT_EQ(change(i4(32767), VT_I2, out), S_OK);
  EXPECT_EQ(out.get().iVal, 32767);
  EXPECT_EQ(change(i4(32768), VT_I2, out), DISP_E_OVERFLOW);
}

TEST(VariantChangeType, ToBstr) {
  Variant out;
  ASSERT_EQ(change(i4(-2024), VT_BSTR, out), S_OK);
  EXPECT_EQ(BString::view(out.get().bstrVal), u"-2024");
  VARIANT b;
  b.vt = VT_BOOL;
  b.boolVal = VARIANT_TRUE;
  ASSERT_EQ(change(b, VT_BSTR, out), S_OK);
  EXPECT_EQ(BString::view(out.get().bstrVal), u"-1");
  ASSERT_EQ(change(b, VT_BSTR, out, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(BString::view(out.get().bstrVal), u"True");
  VARIANT empty;
  empty.vt = VT_EMPTY;
  ASSERT_EQ(change(empty, VT_BSTR, out), S_OK);
  EXPECT_EQ(out.get().vt, VT_BSTR);
  EXPECT_EQ(BString::view(out.get().bstrVal), u"");
  VARIANT null;
  null.vt = VT_NULL;
  EXPECT_EQ(change(null, VT_BSTR, out), DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, ReadsThroughReferences) {
  LONG level = 7;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &level;
  Variant out;
  ASSERT_EQ(change(ref, VT_BSTR, out), S_OK);
  EXPECT_EQ(BString::view(out.get().bstrVal), u"7");

  BString text(u"13");
  BSTR textRef = text.get();
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = &textRef;
  ASSERT_EQ(change(ref, VT_I4, out), S_OK);
  EXPECT_EQ(out.get().lVal, 13);

  VARIANT inner = i4(5);
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &inner;
  ASSERT_EQ(change(ref, VT_I2, out), S_OK);
  EXPECT_EQ(out.get().iVal, 5);
}

TEST(VariantChangeType, InPlaceConversionFreesTheOldValue) {
  Variant v;
  v.get().vt = VT_BSTR;
  v.get().bstrVal = SysAllocString(u"17");
  ASSERT_EQ(VariantChangeType(v.ptr(), v.ptr(), 0, VT_I4), S_OK);
  EXPECT_EQ(v.get().vt, VT_I4);
  EXPECT_EQ(v.get().lVal, 17);
}

TEST(VariantChangeType, UnsupportedTypes) {
  VARIANT d;
  d.vt = VT_R8;
  d.dblVal = 1.5;
  Variant out;
  EXPECT_EQ(change(d, VT_I4, out), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(&d), DISP_E_BADVARTYPE);
}

TEST(VariantCopy, CopiesStringsDeeply) {
  Variant a, b;
  a.get().vt = VT_BSTR;
  a.get().bstrVal = SysAllocString(u"x");
  ASSERT_EQ(VariantCopy(b.ptr(), a.ptr()), S_OK);
  EXPECT_NE(b.get().bstrVal, a.get().bstrVal);
  EXPECT_EQ(BString::view(b.get().bstrVal), u"x");
}

ComPtr<IErrorInfo> makeErrorInfo(const OLECHAR* description) {
  ComPtr<ICreateErrorInfo> create;
  EXPECT_EQ(CreateErrorInfo(create.put()), S_OK);
  create->SetDescription(const_cast<OLECHAR*>(description));
  create->SetSource(const_cast<OLECHAR*>(u"Test.Source"));
  create->SetGUID(IID_IDispatch);
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, info.putVoid()), S_OK);
  return info;
}

TEST(ErrorInfo, SetThenGetHandsItOverOnce) {
  SetErrorInfo(0, makeErrorInfo(u"broken").get());
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  BString description, source;
  info->GetDescription(description.put());
  info->GetSource(source.put());
  GUID guid;
  info->GetGUID(&guid);
  EXPECT_EQ(description.view(), u"broken");
  EXPECT_EQ(source.view(), u"Test.Source");
  EXPECT_EQ(guid, IID_IDispatch);
  ComPtr<IErrorInfo> again;
  EXPECT_EQ(GetErrorInfo(0, again.put()), S_FALSE);
  EXPECT_FALSE(again);
}

TEST(ErrorInfo, IsPerThread) {
  SetErrorInfo(0, makeErrorInfo(u"main thread").get());
  std::thread([] {
    ComPtr<IErrorInfo> none;
    EXPECT_EQ(GetErrorInfo(0, none.put()), S_FALSE);
    SetErrorInfo(0, makeErrorInfo(u"other thread").get());  // released when the thread ends
  }).join();
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  BString description;
  info->GetDescription(description.put());
  EXPECT_EQ(description.view(), u"main thread");
}

TEST(Guid, RegistryFormRoundTrips) {
  const GUID g = IID_ISupportErrorInfo;
  EXPECT_EQ(guidToString(g), "{DF0B3D60-548F-101B-8E65-08002B2BD119}");
  EXPECT_EQ(parseGuid("{df0b3d60-548f-101b-8e65-08002b2bd119}"), g);
  EXPECT_EQ(parseGuid("DF0B3D60-548F-101B-8E65-08002B2BD119"), g);
  EXPECT_FALSE(parseGuid("{DF0B3D60-548F-101B-8E65-08002B2BD11}"));
  EXPECT_FALSE(parseGuid("{DF0B3D60+548F-101B-8E65-08002B2BD119}"));
  EXPECT_FALSE(parseGuid("{DF0B3D60-548F-101B-8E65-08002B2BD11G}"));
  EXPECT_EQ(hresultToString(E_NOINTERFACE), "0x80004002");
}

}  // namespace
}  // namespace dupsweep::com
