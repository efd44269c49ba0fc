#include <gtest/gtest.h>

#include "CountingObject.h"
#include "platform/com/ComPtr.h"

namespace {

TEST(Variant, CopyDuplicatesStringsAndClearFreesThem) {
  CComVariant source("Stra\xC3\x9F" "e");
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(Utf8FromBstr(copy.bstrVal), "Stra\xC3\x9F" "e");
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(copy.vt, VT_EMPTY);
  EXPECT_EQ(Utf8FromBstr(source.bstrVal), "Stra\xC3\x9F" "e");

  // Copying over a destination that holds a string frees the old one
  // (ASan reports the leak otherwise); a null BSTR copies as null.
  CComVariant dest("old");
  VARIANT nullString;
  VariantInit(&nullString);
  nullString.vt = VT_BSTR;
  nullString.bstrVal = nullptr;
  ASSERT_EQ(VariantCopy(&dest, &nullString), S_OK);
  EXPECT_EQ(dest.vt, VT_BSTR);
  EXPECT_EQ(dest.bstrVal, nullptr);

  // Self copy is a no-op, not a free-then-read.
  CComVariant self("same");
  EXPECT_EQ(VariantCopy(&self, &self), S_OK);
  EXPECT_EQ(Utf8FromBstr(self.bstrVal), "same");
}

TEST(Variant, InterfacesAreAddRefedByCopyAndReleasedByClear) {
  bool destroyed = false;
  auto* object = new CountingObject(&destroyed);
  {
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_DISPATCH;
    a.pdispVal = object;  // takes the creation reference
    CComVariant b(a);
    EXPECT_EQ(object->Refs(), 2u);
    CComVariant c;
    c = b;
    EXPECT_EQ(object->Refs(), 3u);
    VARIANT unk;
    VariantInit(&unk);
    unk.vt = VT_UNKNOWN;
    unk.punkVal = object;
    object->AddRef();
    ASSERT_EQ(VariantCopy(&c, &unk), S_OK);  // replaces c's reference with a new one
    EXPECT_EQ(object->Refs(), 4u);
    EXPECT_EQ(VariantClear(&unk), S_OK);
    EXPECT_EQ(VariantClear(&a), S_OK);
    EXPECT_EQ(object->Refs(), 2u);
    EXPECT_FALSE(destroyed);
  }
  EXPECT_TRUE(destroyed);

  // A by-reference interface is not owned: clearing it releases nothing.
  destroyed = false;
  auto* held = new CountingObject(&destroyed);
  IUnknown* slot = held;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_UNKNOWN;
  ref.ppunkVal = &slot;
  CComVariant shallow(ref);
  EXPECT_EQ(shallow.vt, VT_BYREF | VT_UNKNOWN);
  EXPECT_EQ(held->Refs(), 1u);
  CComVariant deep;
  ASSERT_EQ(VariantCopyInd(&deep, &ref), S_OK);
  EXPECT_EQ(deep.vt, VT_UNKNOWN);
  EXPECT_EQ(held->Refs(), 2u);
  EXPECT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(held->Refs(), 2u);
  deep.Clear();
  EXPECT_EQ(held->Refs(), 1u);
  held->Release();
  EXPECT_TRUE(destroyed);
}

TEST(Variant, CopyIndDereferencesScalarsStringsAndVariants) {
  LONG number = 42;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &number;
  CComVariant value;
  ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 42);

  CComBSTR text("by ref");
  BSTR slot = text.Get();
  ref.vt = VT_BYREF | VT_BSTR;
  ref.pbstrVal = &slot;
  ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
  EXPECT_EQ(value.vt, VT_BSTR);
  EXPECT_NE(value.bstrVal, text.Get());
  EXPECT_EQ(Utf8FromBstr(value.bstrVal), "by ref");

  CComVariant inner(2.5);
  ref.vt = VT_BYREF | VT_VARIANT;
  ref.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(&value, &ref), S_OK);
  EXPECT_EQ(value.vt, VT_R8);
  EXPECT_EQ(value.dblVal, 2.5);

  // In place: the reference is replaced by the value it points at.
  VARIANT inPlace;
  VariantInit(&inPlace);
  inPlace.vt = VT_BYREF | VT_I4;
  inPlace.plVal = &number;
  ASSERT_EQ(VariantCopyInd(&inPlace, &inPlace), S_OK);
  EXPECT_EQ(inPlace.vt, VT_I4);
  EXPECT_EQ(inPlace.lVal, 42);

  // A null reference or an unknown type is refused and leaves the
  // destination as it was.
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = nullptr;
  EXPECT_EQ(VariantCopyInd(&value, &ref), E_POINTER);
  EXPECT_EQ(value.vt, VT_R8);
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x0FFF;
  EXPECT_EQ(VariantCopy(&value, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(value.vt, VT_R8);
  EXPECT_EQ(VariantCopy(nullptr, &value), E_POINTER);
  EXPECT_EQ(VariantClear(nullptr), E_POINTER);
}

TEST(Variant, ArraysAreCopiedDeep) {
  CComVariant holder;
  holder.vt = VT_ARRAY | VT_VARIANT;
  holder.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  ASSERT_NE(holder.parray, nullptr);
  LONG i = 0;
  CComVariant text("first");
  ASSERT_EQ(SafeArrayPutElement(holder.parray, &i, &text), S_OK);

  CComVariant copy(holder);
  ASSERT_EQ(copy.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_NE(copy.parray, holder.parray);
  // Changing the original does not show in the copy.
  CComVariant other("changed");
  ASSERT_EQ(SafeArrayPutElement(holder.parray, &i, &other), S_OK);
  VARIANT out;
  ASSERT_EQ(SafeArrayGetElement(copy.parray, &i, &out), S_OK);
  EXPECT_EQ(Utf8FromBstr(out.bstrVal), "first");
  VariantClear(&out);

  // A locked array cannot be cleared away.
  ASSERT_EQ(SafeArrayLock(copy.parray), S_OK);
  EXPECT_EQ(VariantClear(&copy), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(copy.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(SafeArrayUnlock(copy.parray), S_OK);
}

TEST(CComVariant, ConstructsMovesAndDetaches) {
  CComVariant l(LONG{7});
  EXPECT_EQ(l.vt, VT_I4);
  CComVariant moved(std::move(l));
  EXPECT_EQ(l.vt, VT_EMPTY);
  EXPECT_EQ(moved.lVal, 7);
  CComVariant t = CComVariant::Bool(true);
  EXPECT_EQ(t.boolVal, VARIANT_TRUE);
  EXPECT_EQ(CComVariant::Null().vt, VT_NULL);

  CComVariant s("text");
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(s.Detach(&out), S_OK);
  EXPECT_EQ(s.vt, VT_EMPTY);
  EXPECT_EQ(Utf8FromBstr(out.bstrVal), "text");
  VariantClear(&out);
  EXPECT_EQ(s.Detach(nullptr), E_POINTER);

  moved = CComVariant("assigned");
  EXPECT_EQ(moved.vt, VT_BSTR);

  // A failed copy leaves the error in the variant rather than garbage.
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = VT_VOID;
  CComVariant err(bad);
  EXPECT_EQ(err.vt, VT_ERROR);
  EXPECT_EQ(err.scode, DISP_E_BADVARTYPE);
}

}  // namespace
