#include "ModuleSupport.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <memory>

#include "platform/com/Registry.h"
#include "platform/com/ServerModules.h"
#include "tests/fixture/TempDir.h"

namespace {

// Registers the module into a registry of its own before any test runs, so
// nothing a developer has registered on this machine takes part.
class RegisteredModule : public ::testing::Environment {
 public:
  void SetUp() override {
    m_dir = std::make_unique<TempDir>();
    KvRegistryUseFile(*m_dir / "registry");
    std::string error;
    ASSERT_EQ(KvServerRegisterModule(KV_MODULE_PATH, false, &error), S_OK) << error;
  }
  // Every test program runs once per test: each removes its own registry.
  void TearDown() override { m_dir.reset(); }

 private:
  std::unique_ptr<TempDir> m_dir;
};

const ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new RegisteredModule());

}  // namespace

ComPtr<IDispatch> CreateByProgId(const char16_t* progId) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  EXPECT_EQ(hr, S_OK) << "CLSIDFromProgID";
  ComPtr<IDispatch> object;
  if (FAILED(hr)) return object;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                        object.ReleaseAndGetVoidAddress());
  EXPECT_EQ(hr, S_OK) << "CoCreateInstance";
  return object;
}

HRESULT ModuleCanUnloadNow() {
  void* handle = dlopen(KV_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return S_OK;
  auto canUnload = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
  const HRESULT hr = canUnload ? canUnload() : E_UNEXPECTED;
  dlclose(handle);
  return hr;
}

CComVariant VLong(LONG v) { return CComVariant(v); }
CComVariant VText(const char* utf8) { return CComVariant(std::string_view(utf8)); }
CComVariant VBool(bool v) { return CComVariant::Bool(v); }
CComVariant VDispatch(IDispatch* p) {
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = p;
  return CComVariant(v);  // the copy takes its own reference
}
CComVariant VMissing() {
  CComVariant r;
  r.vt = VT_ERROR;
  r.scode = DISP_E_PARAMNOTFOUND;
  return r;
}
CComVariant VEmpty() { return CComVariant(); }

CComVariant VTextArray(std::initializer_list<const char*> texts) {
  CComVariant r;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
  LONG index = 0;
  for (const char* text : texts) {
    CComVariant element = VText(text);
    EXPECT_EQ(SafeArrayPutElement(array, &index, &element), S_OK);
    ++index;
  }
  r.vt = VT_ARRAY | VT_VARIANT;
  r.parray = array;
  return r;
}

std::string TextOf(const VARIANT& v) {
  EXPECT_EQ(v.vt, VT_BSTR);
  return v.vt == VT_BSTR ? Utf8FromBstr(v.bstrVal) : std::string("<not text>");
}

DISPID LateBound::Id(const char* name) const {
  std::u16string wide = Utf8ToUtf16(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = m_object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  EXPECT_EQ(hr, S_OK) << "GetIDsOfNames(" << name << ")";
  return id;
}

HRESULT LateBound::InvokeId(DISPID id, WORD flags, std::vector<CComVariant>& args,
                            CComVariant* result, UINT* argErr, EXCEPINFO* excepInfo) const {
  // rgvarg holds the arguments last to first; the entries are the callers'
  // own VARIANTs, so by-reference parameters reach them.
  std::vector<VARIANTARG> reversed(args.size());
  for (size_t i = 0; i < args.size(); ++i) reversed[args.size() - 1 - i] = args[i];
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                    static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO localExcep{};
  UINT localArgErr = 0;
  const HRESULT hr = m_object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                                      excepInfo ? excepInfo : &localExcep,
                                      argErr ? argErr : &localArgErr);
  // Copy back what the callee did to the arguments (ownership travels with
  // the bits: the reversed array was a shallow copy).
  for (size_t i = 0; i < args.size(); ++i) {
    VARIANT& mine = args[i];
    mine = reversed[args.size() - 1 - i];
  }
  return hr;
}

HRESULT LateBound::Call(const char* name, std::vector<CComVariant>& args, CComVariant* result,
                        WORD flags, UINT* argErr, EXCEPINFO* excepInfo) const {
  return InvokeId(Id(name), flags, args, result, argErr, excepInfo);
}

HRESULT LateBound::Call(const char* name, std::initializer_list<CComVariant> args,
                        CComVariant* result) const {
  std::vector<CComVariant> list(args);
  return Call(name, list, result);
}

CComVariant LateBound::Get(const char* name, std::initializer_list<CComVariant> args) const {
  CComVariant result;
  std::vector<CComVariant> list(args);
  EXCEPINFO excep{};
  const HRESULT hr = Call(name, list, &result, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, &excep);
  // A failing method shows as DISP_E_EXCEPTION with its own code in EXCEPINFO.
  EXPECT_EQ(hr, S_OK) << name << " failed, method result 0x" << std::hex
                      << static_cast<unsigned>(hr == DISP_E_EXCEPTION ? excep.scode : hr);
  return result;
}
