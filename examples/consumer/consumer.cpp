// consumer DATABASE-URL [ORDER-ID]
//
// Uses the component the way a page does, from C++: makes a host session on
// the database, creates KvHtmlDbTools.KvDataPump by its ProgID, binds it to
// the demo application's order edit form (100), moves to an order and reads
// its number and amount by name through IDispatch. Prints
//   order 1: strno=A1 lamount=...
// Exit status 0 when every call succeeded, 1 otherwise (the failing call and
// its HRESULT on standard error).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <kvhtmldbtools/KvHtmlDbTools.h>

namespace {

constexpr LONG kOrderEditForm = 100;

bool Check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return true;
  std::fprintf(stderr, "consumer: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return false;
}

// Calls a method by name, the way a script engine does: the name becomes a
// dispatch id, the arguments go in reverse order.
HRESULT CallByName(IDispatch* object, const char* name, std::vector<VARIANT> args, VARIANT* result) {
  std::u16string wide = Utf8ToUtf16(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = 0;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{};
  params.rgvarg = reversed.data();
  params.cArgs = static_cast<UINT>(reversed.size());
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                        result, nullptr, nullptr);
}

VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT Object(IDispatch* value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = value;  // borrowed: the caller keeps its reference
  return v;
}

// The field's value as text ("" for a value that has none).
bool ReadField(IDispatch* pump, const char* field, std::string* text) {
  CComBSTR name(field);
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR;
  arg.bstrVal = name.Get();  // borrowed from name
  CComVariant fallback("");
  CComVariant value;
  if (!Check(CallByName(pump, "ValueByFieldName", {arg, fallback}, &value), field)) return false;
  if (FAILED(value.ChangeType(VT_BSTR))) return false;
  *text = Utf8FromBstr(value.bstrVal);
  return true;
}

int Run(const std::string& url, LONG orderId) {
  KvHostSessionConfig config;
  config.connectionString = url;
  ComPtr<IDispatch> session;
  if (!Check(KvCreateHostSession(config, session.ReleaseAndGetAddressOf()), "KvCreateHostSession")) return 1;

  CLSID clsid{};
  std::u16string progId = Utf8ToUtf16("KvHtmlDbTools.KvDataPump");
  if (!Check(CLSIDFromProgID(progId.c_str(), &clsid), "CLSIDFromProgID(KvHtmlDbTools.KvDataPump)")) return 1;
  ComPtr<IDispatch> pump;
  if (!Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, pump.ReleaseAndGetVoidAddress()),
             "CoCreateInstance"))
    return 1;

  CComVariant ignored;
  if (!Check(CallByName(pump.Get(), "Init", {Object(session.Get()), Long(kOrderEditForm)}, &ignored), "Init"))
    return 1;
  ignored.Clear();
  if (!Check(CallByName(pump.Get(), "MoveTo", {Long(orderId)}, &ignored), "MoveTo")) return 1;

  std::string number, amount;
  if (!ReadField(pump.Get(), "strno", &number) || !ReadField(pump.Get(), "lamount", &amount)) return 1;
  std::printf("order %ld: strno=%s lamount=%s\n", static_cast<long>(orderId), number.c_str(), amount.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: consumer DATABASE-URL [ORDER-ID]\n");
    return 2;
  }
  if (FAILED(CoInitialize(nullptr))) return 1;
  int status = Run(argv[1], argc == 3 ? std::atoi(argv[2]) : 1);
  // Objects are gone by now; the module may unload.
  CoFreeUnusedLibraries();
  CoUninitialize();
  return status;
}
