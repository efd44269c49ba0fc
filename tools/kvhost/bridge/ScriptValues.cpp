#include "bridge/ScriptValues.h"

#include <cmath>
#include <cstdint>
#include <ctime>

#include "bridge/LateBinding.h"
#include "bridge/ScriptBridge.h"
#include "bridge/ScriptText.h"

namespace {

// Nesting limit for arrays inside arrays; an array that contains itself
// would otherwise recurse without end.
constexpr int kMaxArrayDepth = 32;
constexpr duk_size_t kMaxArrayLength = 1u << 24;

// Leaves a BSTR in *out; false when memory runs out. Calls nothing of the engine.
bool StoreScriptString(const char* text, duk_size_t length, VARIANT* out) {
  std::u16string units = ScriptTextToUtf16(std::string_view(text, length));
  BSTR bstr = SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
  if (!bstr) return false;
  out->vt = VT_BSTR;
  out->bstrVal = bstr;
  return true;
}

void ReadScriptValue(duk_context* ctx, duk_idx_t idx, VARIANT* out, int depth);

void ReadScriptArray(duk_context* ctx, duk_idx_t idx, VARIANT* out, int depth) {
  if (depth >= kMaxArrayDepth) RaiseScriptError(ctx, DUK_ERR_RANGE_ERROR, "arrays nested too deeply to pass to COM");
  duk_size_t length = duk_get_length(ctx, idx);
  if (length > kMaxArrayLength) RaiseScriptError(ctx, DUK_ERR_RANGE_ERROR, "array too long to pass to COM");
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(length));
  if (!array) RaiseScriptError(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  // The argument owns the array from here on, so an error raised while the
  // elements are read still frees it.
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = array;
  auto* elements = static_cast<VARIANT*>(array->pvData);
  for (duk_size_t i = 0; i < length; ++i) {
    duk_get_prop_index(ctx, idx, static_cast<duk_uarridx_t>(i));
    ReadScriptValue(ctx, -1, &elements[i], depth + 1);
    duk_pop(ctx);
  }
}

bool IsScriptDate(duk_context* ctx, duk_idx_t idx) {
  duk_push_heap_stash(ctx);
  duk_get_prop_string(ctx, -1, kStashDate);
  bool isDate = duk_instanceof(ctx, idx, -1);
  duk_pop_2(ctx);
  return isDate;
}

void ReadScriptDate(duk_context* ctx, duk_idx_t idx, VARIANT* out) {
  duk_push_heap_stash(ctx);
  duk_get_prop_string(ctx, -1, kStashGetTime);
  duk_dup(ctx, idx);
  duk_call_method(ctx, 0);  // raises for an object that only pretends to be a date
  double milliseconds = duk_get_number(ctx, -1);
  duk_pop_2(ctx);
  DATE date = 0;
  if (!DateFromScriptTime(milliseconds, &date)) RaiseScriptError(ctx, DUK_ERR_RANGE_ERROR, "invalid date");
  out->vt = VT_DATE;
  out->date = date;
}

// The COM object a script object stands for: one made by the page, or the
// running page's session for the Session object; null when it is neither.
// Raises a script error when it stands for one that is gone.
IDispatch* ComObjectOf(duk_context* ctx, duk_idx_t idx) {
  ScriptBridge& bridge = GetScriptBridge(ctx);
  if (duk_get_prop_string(ctx, idx, KV_KEY_OBJECT_ID)) {
    uint32_t id = duk_get_uint(ctx, -1);
    duk_pop(ctx);
    IDispatch* object = bridge.objects.Find(id);
    if (!object) RaiseScriptError(ctx, DUK_ERR_TYPE_ERROR, "the object has already been released");
    return object;
  }
  duk_pop(ctx);
  const bool session = duk_get_prop_string(ctx, idx, KV_KEY_PAGE_SESSION);
  duk_pop(ctx);
  if (session && !bridge.sessionHost) RaiseScriptError(ctx, DUK_ERR_TYPE_ERROR, "this page has no session to pass");
  return session ? bridge.sessionHost : nullptr;
}

void ReadScriptObject(duk_context* ctx, duk_idx_t idx, VARIANT* out, int depth) {
  if (IDispatch* object = ComObjectOf(ctx, idx)) {
    object->AddRef();
    out->vt = VT_DISPATCH;
    out->pdispVal = object;
    return;
  }
  if (duk_is_array(ctx, idx)) return ReadScriptArray(ctx, idx, out, depth);
  if (IsScriptDate(ctx, idx)) return ReadScriptDate(ctx, idx, out);
  RaiseScriptError(ctx, DUK_ERR_TYPE_ERROR, "only numbers, strings, booleans, dates, arrays, null, undefined and "
                       "objects made by Server.CreateObject can be passed to a COM method");
}

void ReadScriptValue(duk_context* ctx, duk_idx_t idx, VARIANT* out, int depth) {
  idx = duk_normalize_index(ctx, idx);
  switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
      out->vt = VT_EMPTY;
      return;
    case DUK_TYPE_NULL:
      out->vt = VT_NULL;
      return;
    case DUK_TYPE_BOOLEAN:
      out->vt = VT_BOOL;
      out->boolVal = duk_get_boolean(ctx, idx) ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case DUK_TYPE_NUMBER:
      StoreScriptNumber(duk_get_number(ctx, idx), out);
      return;
    case DUK_TYPE_STRING: {
      if (duk_is_symbol(ctx, idx)) break;
      duk_size_t length = 0;
      const char* text = duk_get_lstring(ctx, idx, &length);
      if (!StoreScriptString(text, length, out)) RaiseScriptError(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
      return;
    }
    case DUK_TYPE_OBJECT:
      ReadScriptObject(ctx, idx, out, depth);
      return;
    default:
      break;
  }
  RaiseScriptError(ctx, DUK_ERR_TYPE_ERROR, "this kind of value cannot be passed to a COM method");
}

// A protected call shares its caller's stack frame: the arguments are the
// top values, not the bottom ones.
duk_ret_t ReadArgumentsUnprotected(duk_context* ctx, void* udata) {
  auto* args = static_cast<DispArgs*>(udata);
  const duk_idx_t first = duk_get_top(ctx) - static_cast<duk_idx_t>(args->Count());
  for (size_t i = 0; i < args->Count(); ++i)
    ReadScriptValue(ctx, first + static_cast<duk_idx_t>(i), args->Arg(i), 0);
  return 0;
}

void PushScriptDate(duk_context* ctx, DATE date) {
  double milliseconds = 0;
  if (!ScriptTimeFromDate(date, &milliseconds)) milliseconds = NAN;
  duk_push_heap_stash(ctx);
  duk_get_prop_string(ctx, -1, kStashDate);
  duk_remove(ctx, -2);
  duk_push_number(ctx, milliseconds);
  duk_new(ctx, 1);
}

void PushScriptString(duk_context* ctx, BSTR text) {
  std::string script = Utf16ToScriptText(text, SysStringLen(text));
  duk_push_lstring(ctx, script.data(), script.size());
}

void PushDispatchValue(duk_context* ctx, IUnknown* unknown) {
  ComPtr<IDispatch> object;
  if (!unknown || FAILED(unknown->QueryInterface(IID_IDispatch, object.ReleaseAndGetVoidAddress())) ||
      !object) {
    duk_push_null(ctx);
    return;
  }
  uint32_t id = GetScriptBridge(ctx).objects.Add(std::move(object), "object");
  PushLateBoundObject(ctx, id);
}

void PushSafeArray(duk_context* ctx, SAFEARRAY* array) {
  VARTYPE elementType = VT_EMPTY;
  LONG lower = 0, upper = -1;
  if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &elementType)) ||
      FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    duk_push_undefined(ctx);
    return;
  }
  duk_push_array(ctx);
  duk_uarridx_t position = 0;
  for (LONG i = lower; i <= upper; ++i) {
    CComVariant element;
    HRESULT hr;
    if (elementType == VT_VARIANT) {
      hr = SafeArrayGetElement(array, &i, &element);
    } else {
      // The element is copied into the value part of the VARIANT, which then
      // owns it (a BSTR copy, an AddRef'ed interface).
      hr = SafeArrayGetElement(array, &i, &element.llVal);
      if (SUCCEEDED(hr)) element.vt = elementType;
    }
    if (FAILED(hr)) {
      duk_push_undefined(ctx);
    } else {
      PushVariantValue(ctx, element);
    }
    duk_put_prop_index(ctx, -2, position++);
  }
}

}  // namespace

void StoreScriptNumber(double number, VARIANT* out) {
  if (std::isfinite(number) && number == std::trunc(number) && number >= INT32_MIN &&
      number <= INT32_MAX) {
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(number);
  } else {
    out->vt = VT_R8;
    out->dblVal = number;
  }
}

bool ReadScriptArguments(duk_context* ctx, DispArgs& args) {
  duk_int_t rc = duk_safe_call(ctx, ReadArgumentsUnprotected, &args,
                               static_cast<duk_idx_t>(args.Count()), 1);
  if (rc != DUK_EXEC_SUCCESS) return false;
  duk_pop(ctx);
  return true;
}

void PushVariantValue(duk_context* ctx, const VARIANT& value) {
  if (value.vt & VT_BYREF) {
    CComVariant plain;
    if (FAILED(VariantCopyInd(&plain, &value)))
      duk_push_undefined(ctx);
    else
      PushVariantValue(ctx, plain);
    return;
  }
  if (value.vt & VT_ARRAY) return PushSafeArray(ctx, value.parray);
  switch (value.vt) {
    case VT_EMPTY: duk_push_undefined(ctx); return;
    case VT_NULL: duk_push_null(ctx); return;
    case VT_BOOL: duk_push_boolean(ctx, value.boolVal != VARIANT_FALSE); return;
    case VT_I1: duk_push_int(ctx, value.cVal); return;
    case VT_UI1: duk_push_uint(ctx, value.bVal); return;
    case VT_I2: duk_push_int(ctx, value.iVal); return;
    case VT_UI2: duk_push_uint(ctx, value.uiVal); return;
    case VT_I4: duk_push_int(ctx, value.lVal); return;
    case VT_UI4: duk_push_uint(ctx, value.ulVal); return;
    case VT_INT: duk_push_int(ctx, value.intVal); return;
    case VT_UINT: duk_push_uint(ctx, value.uintVal); return;
    case VT_I8: duk_push_number(ctx, static_cast<double>(value.llVal)); return;
    case VT_UI8: duk_push_number(ctx, static_cast<double>(static_cast<uint64_t>(value.llVal))); return;
    case VT_R4: duk_push_number(ctx, value.fltVal); return;
    case VT_R8: duk_push_number(ctx, value.dblVal); return;
    case VT_CY: duk_push_number(ctx, static_cast<double>(value.cyVal.int64) / 10000.0); return;
    case VT_BSTR: PushScriptString(ctx, value.bstrVal); return;
    case VT_DATE: PushScriptDate(ctx, value.date); return;
    case VT_DISPATCH:
    case VT_UNKNOWN: PushDispatchValue(ctx, value.punkVal); return;
    default: break;
  }
  // Anything else is shown as its text when it has one.
  CComVariant text;
  if (SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR)))
    PushScriptString(ctx, text.bstrVal);
  else
    duk_push_undefined(ctx);
}

bool DateFromScriptTime(double milliseconds, DATE* date) {
  if (!std::isfinite(milliseconds)) return false;
  time_t seconds = static_cast<time_t>(std::floor(milliseconds / 1000.0));
  struct tm local {};
  if (!localtime_r(&seconds, &local)) return false;
  KvDateParts parts{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     local.tm_sec};
  return DateFromParts(parts, date);
}

bool ScriptTimeFromDate(DATE date, double* milliseconds) {
  KvDateParts parts{};
  if (!PartsFromDate(date, &parts)) return false;
  struct tm local {};
  local.tm_year = parts.year - 1900;
  local.tm_mon = parts.month - 1;
  local.tm_mday = parts.day;
  local.tm_hour = parts.hour;
  local.tm_min = parts.minute;
  local.tm_sec = parts.second;
  local.tm_isdst = -1;
  time_t seconds = mktime(&local);
  *milliseconds = static_cast<double>(seconds) * 1000.0;
  return true;
}
