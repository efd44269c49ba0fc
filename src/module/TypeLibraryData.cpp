// KVHTMLDBTOOLSLib as data: every member of both interfaces with its dispatch
// id, invoke kind, parameters, help string, and the adapter that calls it
// through the interface's vtable with the arguments the dispatcher prepared.
#include "../pagedpump/IKvDRPump.h"
#include "../recordpump/IKvDataPump.h"
#include "TypeLibrary.h"

namespace {

constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr VARTYPE kLongOut = VT_BYREF | VT_I4;
constexpr VARTYPE kBoolOut = VT_BYREF | VT_BOOL;
constexpr VARTYPE kBstrOut = VT_BYREF | VT_BSTR;
constexpr VARTYPE kVariantRef = VT_BYREF | VT_VARIANT;

// The dispatcher hands the object back as the IDispatch it was called on.
IKvDataPump* DataPump(void* pv) { return static_cast<IKvDataPump*>(static_cast<IDispatch*>(pv)); }
IKvDRPump* DRPump(void* pv) { return static_cast<IKvDRPump*>(static_cast<IDispatch*>(pv)); }

template <size_t N>
constexpr UINT Count(const KvParamData (&)[N]) { return static_cast<UINT>(N); }

// ---- IKvDataPump ----------------------------------------------------------------
constexpr KvParamData kInit[] = {{"p_pSession", VT_DISPATCH, kIn}, {"p_lFormId", VT_I4, kIn}};
constexpr KvParamData kMoveTo[] = {{"p_lId", VT_I4, kIn}};
constexpr KvParamData kSaveFieldValues[] = {{"pVal", kLongOut, kRetval}};
constexpr KvParamData kValueByFieldName[] = {
    {"p_pszField", VT_BSTR, kIn}, {"p_vDefault", VT_VARIANT, kIn}, {"pVal", kVariantRef, kRetval}};
constexpr KvParamData kCompareByFieldName[] = {
    {"p_pszField", VT_BSTR, kIn},      {"p_vValue", VT_VARIANT, kIn},
    {"p_vTrueValue", VT_VARIANT, kIn}, {"p_vFalseValue", VT_VARIANT, kIn},
    {"pVal", kVariantRef, kRetval}};
constexpr KvParamData kSetFieldValue[] = {{"p_pszField", VT_BSTR, kIn}, {"p_vData", VT_VARIANT, kIn}};
constexpr KvParamData kCascadeDelete[] = {
    {"p_pszIdField", VT_BSTR, kIn}, {"p_pszParentField", VT_BSTR, kIn},
    {"p_bKillChildren", VT_BOOL, kIn}, {"p_bInternal", VT_BOOL, kIn}};
constexpr KvParamData kGetValueDirect[] = {{"p_pszTable", VT_BSTR, kIn}, {"p_iRowId", VT_I4, kIn},
                                           {"p_pszField", VT_BSTR, kIn}, {"pVal", kVariantRef, kRetval}};
constexpr KvParamData kQueryInit[] = {{"p_pSession", VT_DISPATCH, kIn}, {"p_pszQuery", VT_BSTR, kIn}};
constexpr KvParamData kIsEOF[] = {{"pVal", kBoolOut, kRetval}};
constexpr KvParamData kMoveResult[] = {{"p_lId", kLongOut, kRetval}};
constexpr KvParamData kValue[] = {{"p_pszField", VT_BSTR, kIn}, {"pVal", kVariantRef, kRetval}};
constexpr KvParamData kClone[] = {{"p_pszIdField", VT_BSTR, kIn}, {"p_pszParentField", VT_BSTR, kIn},
                                  {"p_bCloneFiles", VT_BOOL, kIn}, {"pVal", kLongOut, kRetval}};
constexpr KvParamData kClearFileField[] = {{"p_lId", VT_I4, kIn}, {"p_szField", VT_BSTR, kIn}};
constexpr KvParamData kSetFieldValueEx[] = {
    {"p_pszField", VT_BSTR, kIn}, {"p_lLCID", VT_I4, kIn}, {"p_vData", VT_VARIANT, kIn}};
constexpr KvParamData kValueByFieldNameEx[] = {{"p_pszField", VT_BSTR, kIn},
                                               {"p_vDefault", VT_VARIANT, kIn},
                                               {"p_lLCID", VT_I4, kIn},
                                               {"pVal", kVariantRef, kRetval}};
constexpr KvParamData kClearFileFieldEx[] = {
    {"p_lId", VT_I4, kIn}, {"p_szField", VT_BSTR, kIn}, {"p_lLCID", VT_I4, kIn}};
constexpr KvParamData kDeleteEx[] = {{"p_lLCID", VT_I4, kIn}};
constexpr KvParamData kGetValueDirectEx[] = {
    {"p_pszTable", VT_BSTR, kIn}, {"p_iRowId", VT_I4, kIn}, {"p_pszField", VT_BSTR, kIn},
    {"p_lLCID", VT_I4, kIn},      {"pVal", kVariantRef, kRetval}};
constexpr KvParamData kGetSQLJoinSelect[] = {
    {"p_lDatapackId", VT_I4, kIn},    {"p_lLCID", VT_I4, kIn}, {"p_vDistinct", VT_VARIANT, kIn},
    {"p_pvFields", kVariantRef, kIn}, {"pSelect", kBstrOut, kRetval}};
constexpr KvParamData kGetSQLJoinWhere[] = {{"p_lDatapackId", VT_I4, kIn},
                                            {"p_pszWhere", VT_BSTR, kIn},
                                            {"p_lLCID", VT_I4, kIn},
                                            {"pWhere", kBstrOut, kRetval}};
constexpr KvParamData kValueEx[] = {
    {"p_pszField", VT_BSTR, kIn}, {"p_lLCID", VT_I4, kIn}, {"pVal", kVariantRef, kRetval}};

#define KV_METHOD(name, id, params, call) \
  {#name, "method " #name, id, INVOKE_FUNC, params, Count(params), call}
#define KV_METHOD0(name, id, call) {#name, "method " #name, id, INVOKE_FUNC, nullptr, 0, call}
#define KV_PROPGET(name, id, params, call) \
  {#name, "property " #name, id, INVOKE_PROPERTYGET, params, Count(params), call}

constexpr KvMethodData kDataPumpMembers[] = {
    KV_METHOD(Init, 1, kInit,
              [](void* p, VARIANTARG* a) { return DataPump(p)->Init(a[0].pdispVal, a[1].lVal); }),
    KV_METHOD(MoveTo, 2, kMoveTo, [](void* p, VARIANTARG* a) { return DataPump(p)->MoveTo(a[0].lVal); }),
    KV_METHOD(SaveFieldValues, 3, kSaveFieldValues,
              [](void* p, VARIANTARG* a) { return DataPump(p)->SaveFieldValues(a[0].plVal); }),
    KV_METHOD(ValueByFieldName, 4, kValueByFieldName,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->ValueByFieldName(a[0].bstrVal, a[1], a[2].pvarVal);
              }),
    KV_METHOD(CompareByFieldName, 5, kCompareByFieldName,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->CompareByFieldName(a[0].bstrVal, a[1], a[2], a[3], a[4].pvarVal);
              }),
    KV_METHOD(SetFieldValue, 6, kSetFieldValue,
              [](void* p, VARIANTARG* a) { return DataPump(p)->SetFieldValue(a[0].bstrVal, a[1]); }),
    KV_METHOD0(CleanFieldValues, 7, [](void* p, VARIANTARG*) { return DataPump(p)->CleanFieldValues(); }),
    KV_METHOD0(Delete, 8, [](void* p, VARIANTARG*) { return DataPump(p)->Delete(); }),
    KV_METHOD(CascadeDelete, 9, kCascadeDelete,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->CascadeDelete(a[0].bstrVal, a[1].bstrVal, a[2].boolVal,
                                                  a[3].boolVal);
              }),
    KV_METHOD(GetValueDirect, 10, kGetValueDirect,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->GetValueDirect(a[0].bstrVal, a[1].lVal, a[2].bstrVal, a[3].pvarVal);
              }),
    KV_METHOD(QueryInit, 11, kQueryInit,
              [](void* p, VARIANTARG* a) { return DataPump(p)->QueryInit(a[0].pdispVal, a[1].bstrVal); }),
    KV_METHOD0(CloseQuery, 12, [](void* p, VARIANTARG*) { return DataPump(p)->CloseQuery(); }),
    KV_PROPGET(IsEOF, 13, kIsEOF,
               [](void* p, VARIANTARG* a) { return DataPump(p)->get_IsEOF(a[0].pboolVal); }),
    KV_METHOD(MoveNext, 14, kMoveResult,
              [](void* p, VARIANTARG* a) { return DataPump(p)->MoveNext(a[0].plVal); }),
    KV_PROPGET(Value, 15, kValue,
               [](void* p, VARIANTARG* a) { return DataPump(p)->get_Value(a[0].bstrVal, a[1].pvarVal); }),
    KV_METHOD(Clone, 16, kClone,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->Clone(a[0].bstrVal, a[1].bstrVal, a[2].boolVal, a[3].plVal);
              }),
    KV_METHOD(ClearFileField, 17, kClearFileField,
              [](void* p, VARIANTARG* a) { return DataPump(p)->ClearFileField(a[0].lVal, a[1].bstrVal); }),
    KV_METHOD(SetFieldValueEx, 18, kSetFieldValueEx,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->SetFieldValueEx(a[0].bstrVal, a[1].lVal, a[2]);
              }),
    KV_METHOD(MoveFirst, 19, kMoveResult,
              [](void* p, VARIANTARG* a) { return DataPump(p)->MoveFirst(a[0].plVal); }),
    KV_METHOD(MovePrevious, 20, kMoveResult,
              [](void* p, VARIANTARG* a) { return DataPump(p)->MovePrevious(a[0].plVal); }),
    KV_METHOD(MoveLast, 21, kMoveResult,
              [](void* p, VARIANTARG* a) { return DataPump(p)->MoveLast(a[0].plVal); }),
    KV_METHOD(ValueByFieldNameEx, 22, kValueByFieldNameEx,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->ValueByFieldNameEx(a[0].bstrVal, a[1], a[2].lVal, a[3].pvarVal);
              }),
    KV_METHOD(ClearFileFieldEx, 23, kClearFileFieldEx,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->ClearFileFieldEx(a[0].lVal, a[1].bstrVal, a[2].lVal);
              }),
    KV_METHOD(DeleteEx, 24, kDeleteEx, [](void* p, VARIANTARG* a) { return DataPump(p)->DeleteEx(a[0].lVal); }),
    KV_METHOD(GetValueDirectEx, 25, kGetValueDirectEx,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->GetValueDirectEx(a[0].bstrVal, a[1].lVal, a[2].bstrVal, a[3].lVal,
                                                     a[4].pvarVal);
              }),
    // The help string keeps the spelling the library has always published.
    {"GetSQLJoinSelect", "method GetSQJoinSelect", 26, INVOKE_FUNC, kGetSQLJoinSelect,
     Count(kGetSQLJoinSelect),
     [](void* p, VARIANTARG* a) {
       return DataPump(p)->GetSQLJoinSelect(a[0].lVal, a[1].lVal, a[2], a[3].pvarVal, a[4].pbstrVal);
     }},
    KV_METHOD(GetSQLJoinWhere, 27, kGetSQLJoinWhere,
              [](void* p, VARIANTARG* a) {
                return DataPump(p)->GetSQLJoinWhere(a[0].lVal, a[1].bstrVal, a[2].lVal, a[3].pbstrVal);
              }),
    KV_PROPGET(ValueEx, 28, kValueEx,
               [](void* p, VARIANTARG* a) {
                 return DataPump(p)->get_ValueEx(a[0].bstrVal, a[1].lVal, a[2].pvarVal);
               }),
};

// ---- IKvDRPump ------------------------------------------------------------------
constexpr KvParamData kDRInit[] = {{"p_pSession", VT_DISPATCH, kIn}, {"p_bstrQuery", VT_BSTR, kIn},
                                   {"p_bstrSorter", VT_BSTR, kIn},   {"p_lStart", VT_I4, kIn},
                                   {"p_bDistinct", VT_BOOL, kIn},    {"pVal", kLongOut, kRetval}};
constexpr KvParamData kDRFlag[] = {{"pVal", kLongOut, kRetval}};
constexpr KvParamData kDRValue[] = {{"p_bstrField", VT_BSTR, kIn}, {"pVal", kVariantRef, kRetval}};
constexpr KvParamData kDRValueEx[] = {
    {"p_bstrField", VT_BSTR, kIn}, {"p_lLCID", VT_I4, kIn}, {"pVal", kVariantRef, kRetval}};

// Dispatch id 2 has never been used by this interface.
constexpr KvMethodData kDRPumpMembers[] = {
    KV_METHOD(Init, 1, kDRInit,
              [](void* p, VARIANTARG* a) {
                return DRPump(p)->Init(a[0].pdispVal, a[1].bstrVal, a[2].bstrVal, a[3].lVal,
                                       a[4].boolVal, a[5].plVal);
              }),
    KV_METHOD0(MoveNext, 3, [](void* p, VARIANTARG*) { return DRPump(p)->MoveNext(); }),
    KV_PROPGET(IsEOF, 4, kDRFlag, [](void* p, VARIANTARG* a) { return DRPump(p)->get_IsEOF(a[0].plVal); }),
    KV_METHOD0(Close, 5, [](void* p, VARIANTARG*) { return DRPump(p)->Close(); }),
    KV_PROPGET(Value, 6, kDRValue,
               [](void* p, VARIANTARG* a) { return DRPump(p)->get_Value(a[0].bstrVal, a[1].pvarVal); }),
    KV_METHOD0(MoveFirst, 7, [](void* p, VARIANTARG*) { return DRPump(p)->MoveFirst(); }),
    KV_METHOD0(MoveLast, 8, [](void* p, VARIANTARG*) { return DRPump(p)->MoveLast(); }),
    KV_METHOD0(MovePrevious, 9, [](void* p, VARIANTARG*) { return DRPump(p)->MovePrevious(); }),
    KV_PROPGET(IsBOF, 10, kDRFlag, [](void* p, VARIANTARG* a) { return DRPump(p)->get_IsBOF(a[0].plVal); }),
    KV_PROPGET(ValueEx, 11, kDRValueEx,
               [](void* p, VARIANTARG* a) {
                 return DRPump(p)->get_ValueEx(a[0].bstrVal, a[1].lVal, a[2].pvarVal);
               }),
};

#undef KV_METHOD
#undef KV_METHOD0
#undef KV_PROPGET

template <size_t N>
constexpr UINT CountMembers(const KvMethodData (&)[N]) { return static_cast<UINT>(N); }

constexpr WORD kDual = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;

constexpr KvInterfaceData kInterfaces[] = {
    {IKvDataPump::kIid, "IKvDataPump", "IKvDataPump Interface", kDual, kDataPumpMembers,
     CountMembers(kDataPumpMembers)},
    {IKvDRPump::kIid, "IKvDRPump", "IKvDRPump Interface", kDual, kDRPumpMembers,
     CountMembers(kDRPumpMembers)},
};

constexpr KvCoClassData kCoClasses[] = {
    {CLSID_KvDataPump, "KvDataPump", "KvDataPump", IKvDataPump::kIid},
    {CLSID_KvDRPump, "KvDRPump", "KvDRPump Class", IKvDRPump::kIid},
};

constexpr KvTypeLibData kLibrary = {
    LIBID_KVHTMLDBTOOLSLib, "KVHTMLDBTOOLSLib", "KvHtmlDbTools 1.0 Type Library",
    kKvTypeLibMajor,        kKvTypeLibMinor,    kKvTypeLibLcid,
    kInterfaces,            2,                  kCoClasses,
    2};

}  // namespace

const KvTypeLibData& KvTypeLibraryData() { return kLibrary; }
