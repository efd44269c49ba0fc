#include "setup/ComponentRegistration.h"

#include <filesystem>
#include <system_error>

#include "platform/com/ClassRegistry.h"
#include "platform/com/ComError.h"
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

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

// A registry entry for one of the ProgIDs that leads to a module other
// than ours is a stale registration left by another checkout or install.
std::vector<std::string> ForeignRegistrationWarnings(const std::string& ownModule) {
  std::vector<std::string> warnings;
  for (const char* progId : kProgIds) {
    std::u16string wide = Utf8ToUtf16(progId);
    CLSID clsid{};
    std::string module, registry;
    if (FAILED(CLSIDFromProgID(wide.c_str(), &clsid)) ||
        FAILED(KvRegistryModulePath(clsid, &module, &registry)) || SameFile(module, ownModule))
      continue;
    std::error_code ec;
    const bool present = std::filesystem::exists(module, ec);
    warnings.push_back("warning: " + registry + " registers " + progId + " to " + module +
                        (present ? ", not to this installation's " + ownModule + "; that module is loaded"
                                 : ", which does not exist; " + ownModule + " is registered in its place"));
  }
  return warnings;
}

namespace {

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
             (detail.empty() ? ComErrorText(hr) : detail);
    return false;
  }
  if (!AllClassesAvailable()) {
    *error = "the component module " + modulePath +
             " registered itself, but its classes cannot be created";
    return false;
  }
  return true;
}
