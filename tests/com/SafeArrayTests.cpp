#include <gtest/gtest.h>

#include "CountingObject.h"
#include "platform/com/ComPtr.h"

namespace {

struct ArrayOwner {
  SAFEARRAY* psa;
  ~ArrayOwner() { EXPECT_EQ(SafeArrayDestroy(psa), S_OK); }
};

TEST(SafeArray, ByteVectorBoundsAndElements) {
  ArrayOwner a{SafeArrayCreateVector(VT_UI1, 1, 4)};
  ASSERT_NE(a.psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(a.psa), 1u);
  EXPECT_EQ(SafeArrayGetElemsize(a.psa), 1u);
  VARTYPE vt;
  EXPECT_EQ(SafeArrayGetVartype(a.psa, &vt), S_OK);
  EXPECT_EQ(vt, VT_UI1);
  LONG lb, ub;
  EXPECT_EQ(SafeArrayGetLBound(a.psa, 1, &lb), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(a.psa, 1, &ub), S_OK);
  EXPECT_EQ(lb, 1);
  EXPECT_EQ(ub, 4);
  EXPECT_EQ(SafeArrayGetLBound(a.psa, 2, &lb), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(a.psa, 0, &lb), DISP_E_BADINDEX);

  for (LONG i = 1; i <= 4; ++i) {
    BYTE b = static_cast<BYTE>(0xF0 + i);
    ASSERT_EQ(SafeArrayPutElement(a.psa, &i, &b), S_OK);
  }
  LONG outside = 5;
  BYTE b = 0;
  EXPECT_EQ(SafeArrayPutElement(a.psa, &outside, &b), DISP_E_BADINDEX);
  outside = 0;
  EXPECT_EQ(SafeArrayGetElement(a.psa, &outside, &b), DISP_E_BADINDEX);

  BYTE* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a.psa, reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(data[0], 0xF1);
  EXPECT_EQ(data[3], 0xF4);
  // Accessed data counts as a lock: the array must not go away under it.
  EXPECT_EQ(SafeArrayDestroy(a.psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(a.psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(a.psa), E_UNEXPECTED);
}

TEST(SafeArray, TwoDimensionsFirstIndexVariesFastest) {
  const SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 10}};  // [0..2] x [10..11]
  ArrayOwner a{SafeArrayCreate(VT_I4, 2, bounds)};
  ASSERT_NE(a.psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(a.psa), 2u);
  LONG lb, ub;
  ASSERT_EQ(SafeArrayGetLBound(a.psa, 2, &lb), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(a.psa, 2, &ub), S_OK);
  EXPECT_EQ(lb, 10);
  EXPECT_EQ(ub, 11);
  ASSERT_EQ(SafeArrayGetUBound(a.psa, 1, &ub), S_OK);
  EXPECT_EQ(ub, 2);

  for (LONG i = 0; i < 3; ++i)
    for (LONG j = 10; j < 12; ++j) {
      const LONG idx[2] = {i, j};
      const LONG value = i * 100 + j;
      ASSERT_EQ(SafeArrayPutElement(a.psa, idx, &value), S_OK);
    }
  const LONG* data = static_cast<const LONG*>(a.psa->pvData);
  EXPECT_EQ(data[0], 10);   // (0,10)
  EXPECT_EQ(data[1], 110);  // (1,10)
  EXPECT_EQ(data[3], 11);   // (0,11)
  const LONG idx[2] = {2, 11};
  LONG value = 0;
  ASSERT_EQ(SafeArrayGetElement(a.psa, idx, &value), S_OK);
  EXPECT_EQ(value, 211);
  const LONG bad[2] = {2, 12};
  EXPECT_EQ(SafeArrayGetElement(a.psa, bad, &value), DISP_E_BADINDEX);
}

TEST(SafeArray, VariantElementsAreCopiedInAndOut) {
  bool destroyed = false;
  auto* object = new CountingObject(&destroyed);
  {
    const SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    ArrayOwner a{SafeArrayCreate(VT_VARIANT, 2, bounds)};
    ASSERT_NE(a.psa, nullptr);
    // New elements are empty variants.
    const LONG origin[2] = {0, 0};
    VARIANT got;
    ASSERT_EQ(SafeArrayGetElement(a.psa, origin, &got), S_OK);
    EXPECT_EQ(got.vt, VT_EMPTY);

    CComVariant text("Gr\xC3\xBC\xC3\x9F" "e");
    ASSERT_EQ(SafeArrayPutElement(a.psa, origin, &text), S_OK);
    VARIANT unk;
    VariantInit(&unk);
    unk.vt = VT_UNKNOWN;
    unk.punkVal = object;
    const LONG corner[2] = {1, 1};
    ASSERT_EQ(SafeArrayPutElement(a.psa, corner, &unk), S_OK);
    EXPECT_EQ(object->Refs(), 2u);

    ASSERT_EQ(SafeArrayGetElement(a.psa, origin, &got), S_OK);
    EXPECT_NE(got.bstrVal, text.bstrVal);
    EXPECT_EQ(Utf8FromBstr(got.bstrVal), "Gr\xC3\xBC\xC3\x9F" "e");
    VariantClear(&got);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(a.psa, &copy), S_OK);
    ArrayOwner copyOwner{copy};
    EXPECT_EQ(object->Refs(), 3u);
    LONG ub;
    ASSERT_EQ(SafeArrayGetUBound(copy, 2, &ub), S_OK);
    EXPECT_EQ(ub, 1);

    // Overwriting an element releases what it held.
    CComVariant number(LONG{5});
    ASSERT_EQ(SafeArrayPutElement(a.psa, corner, &number), S_OK);
    EXPECT_EQ(object->Refs(), 2u);
    VariantClear(&unk);
  }
  EXPECT_TRUE(destroyed);
}

TEST(SafeArray, StringElementsAndCreationLimits) {
  ArrayOwner a{SafeArrayCreateVector(VT_BSTR, 0, 2)};
  ASSERT_NE(a.psa, nullptr);
  CComBSTR put("eins");
  LONG i = 1;
  ASSERT_EQ(SafeArrayPutElement(a.psa, &i, put.Get()), S_OK);  // a BSTR is passed as itself
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(a.psa, &i, &got), S_OK);
  EXPECT_NE(got, put.Get());
  EXPECT_EQ(Utf8FromBstr(got), "eins");
  SysFreeString(got);
  i = 0;
  ASSERT_EQ(SafeArrayGetElement(a.psa, &i, &got), S_OK);
  EXPECT_EQ(got, nullptr);

  EXPECT_EQ(SafeArrayCreateVector(VT_VOID, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, nullptr), nullptr);
  const SAFEARRAYBOUND huge[2] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
  // An empty vector is valid and copies.
  ArrayOwner empty{SafeArrayCreateVector(VT_UI1, 0, 0)};
  ASSERT_NE(empty.psa, nullptr);
  LONG ub;
  ASSERT_EQ(SafeArrayGetUBound(empty.psa, 1, &ub), S_OK);
  EXPECT_EQ(ub, -1);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(empty.psa, &copy), S_OK);
  ArrayOwner copyOwner{copy};
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

}  // namespace
