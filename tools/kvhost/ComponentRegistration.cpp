#include "ComponentRegistration.h"

#include "MemberCall.h"
#include "platform/com/ObjBase.h"
#include "platform/com/ServerModules.h"

namespace {

constexpr const char* kProgIds[] = {"KvHtmlDbTools.KvDataPump", "KvHtmlDbTools.KvDRPump"};

// True when the ProgID leads to a class object that can be had.
bool ClassAvailable(const char* progId) {
  std::u16string wide = Utf8ToUtf16(progId);
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(wide.c_str(), &clsid))) return false;
  ComPtr<IClassFactory> factory;
  return SUCCEEDED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                    factory.ReleaseAndGetVoidAddress())) &&
         factory;
}

bool AllClassesAvailable() {
  for (const char* progId : kProgIds)
    if (!ClassAvailable(progId)) return false;
  return true;
}

}  // namespace

bool EnsureComponentRegistered(const std::string& modulePath, std::string* error) {
  if (AllClassesAvailable()) return true;
  std::string detail;
  HRESULT hr = KvServerRegisterModule(modulePath, false, &detail);
  if (FAILED(hr)) {
    *error = "cannot register the component module " + modulePath + ": " +
             (detail.empty() ? HresultText(hr) : detail);
    return false;
  }
  if (!AllClassesAvailable()) {
    *error = "the component module " + modulePath +
             " registered itself, but its classes cannot be created";
    return false;
  }
  return true;
}
