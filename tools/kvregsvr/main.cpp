// kvregsvr: registers (or unregisters) a component server module in the
// class registry by calling its DllRegisterServer / DllUnregisterServer, and
// lists what the registries hold. See kvregsvr --help; the registry files
// and their order are described in docs/registry.md.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

#include "RegistryListing.h"
#include "platform/com/Registry.h"
#include "platform/com/ServerModules.h"

namespace {

constexpr const char* kVersion = "kvregsvr 1.0";
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadUsage = 2;

constexpr const char* kFooter =
    "Exit status: 0 done, 1 the module could not be loaded, its (un)registration\n"
    "failed or a registry could not be read, 2 bad options.";

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "kvregsvr: %s\n", message.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Registers a component server module in the class registry, or lists what is registered.",
               "kvregsvr");
  app.footer(kFooter);
  app.set_version_flag("--version", kVersion);
  bool unregister = false, system = false, list = false;
  std::string registry, module;
  app.add_flag("-u,--unregister", unregister, "unregister instead of register");
  auto* registryOption =
      app.add_option("--registry", registry,
                     "class registry file (default: $KVCOM_REGISTRY, else $XDG_CONFIG_HOME/kvcom/registry "
                     "or ~/.config/kvcom/registry)")
          ->type_name("FILE");
  app.add_flag("--system", system,
               "use the system registry of this installation (" + KvSystemRegistryFilePath() +
                   "); module paths below its prefix are written relative to it")
      ->excludes(registryOption);
  app.add_flag("--list", list, "list the registered ProgIDs of every registry lookups ask, in their order");
  app.add_option("module", module, "the module file (libNAME.so)")->type_name("MODULE");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return kExitDone;
  } catch (const CLI::CallForVersion&) {
    std::printf("%s\n", kVersion);
    return kExitDone;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "kvregsvr: %s\nRun kvregsvr --help for the options.\n", e.what());
    return kExitBadUsage;
  }
  if (list && !module.empty()) return Fail(kExitBadUsage, "--list takes no module");
  if (!list && module.empty()) return Fail(kExitBadUsage, "no module given (run kvregsvr --help)");

  // The module reaches the registry through the same library, so the file
  // chosen here is the one its registration writes.
  if (system) registry = KvSystemRegistryFilePath();
  if (!registry.empty()) KvRegistryUseFile(registry);

  if (list) {
    std::string error;
    if (!PrintRegistryListing(stdout, &error)) return Fail(kExitFailed, error);
    return kExitDone;
  }

  std::string error;
  const HRESULT hr = KvServerRegisterModule(module, unregister, &error);
  if (FAILED(hr)) return Fail(kExitFailed, error.empty() ? "registration failed" : error);
  if (system && !unregister && !MakeModulePathsRelative(module, KvRegistryFilePath(), &error))
    return Fail(kExitFailed, error);
  std::printf("kvregsvr: %s %s in %s\n", unregister ? "unregistered" : "registered", module.c_str(),
              KvRegistryFilePath().c_str());
  return kExitDone;
}
