// kvregsvr [-u] [--registry FILE] MODULE
//
// Loads MODULE and calls its DllRegisterServer (or, with -u,
// DllUnregisterServer). The class registry is the file named by --registry,
// else by KVCOM_REGISTRY, else the per-user default.
//
// Exit codes: 0 done, 1 the module could not be loaded or its
// (un)registration failed, 2 wrong usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/Registry.h"
#include "platform/com/ServerModules.h"

namespace {

int Usage(const char* message) {
  if (message) std::fprintf(stderr, "kvregsvr: %s\n", message);
  std::fprintf(stderr,
               "usage: kvregsvr [-u] [--registry FILE] MODULE\n"
               "  -u               unregister instead of register\n"
               "  --registry FILE  class registry file (default: $KVCOM_REGISTRY, else\n"
               "                   $XDG_CONFIG_HOME/kvcom/registry or ~/.config/kvcom/registry)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  std::string registry;
  std::string module;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "-u") == 0 || std::strcmp(arg, "--unregister") == 0) {
      unregister = true;
    } else if (std::strcmp(arg, "--registry") == 0) {
      if (++i >= argc) return Usage("--registry needs a file name");
      registry = argv[i];
    } else if (std::strncmp(arg, "--registry=", 11) == 0) {
      registry = arg + 11;
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      Usage(nullptr);
      return 0;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      return Usage((std::string("unknown option ") + arg).c_str());
    } else if (module.empty()) {
      module = arg;
    } else {
      return Usage("only one module at a time");
    }
  }
  if (module.empty()) return Usage("no module given");
  // The module reaches the registry through the same library, which reads
  // the location from the environment.
  if (!registry.empty() && setenv("KVCOM_REGISTRY", registry.c_str(), 1) != 0) {
    std::fprintf(stderr, "kvregsvr: cannot set the registry location\n");
    return 1;
  }

  std::string error;
  const HRESULT hr = KvServerRegisterModule(module, unregister, &error);
  if (FAILED(hr)) {
    std::fprintf(stderr, "kvregsvr: %s\n", error.empty() ? "registration failed" : error.c_str());
    return 1;
  }
  std::printf("kvregsvr: %s %s in %s\n", unregister ? "unregistered" : "registered",
              module.c_str(), KvRegistryFilePath().c_str());
  return 0;
}
