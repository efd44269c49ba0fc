// kvhost: runs a server-side page script against the component, the way a
// web platform's script host does: the page creates objects by ProgID and
// calls them by name.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Options.h"
#include "base/FileText.h"
#include "engine/JScriptEngine.h"
#include "http/WebServer.h"
#include "setup/HostEnvironment.h"
#include "setup/ProjectPaths.h"

namespace {

int Fail(int status, const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "kvhost: %s\n", message.c_str());
  return status;
}

int RunPageOrServe(const KvHostOptions& options) {
  std::string error;
  std::string source;
  if (!options.serve && !ReadWholeFile(options.page, &source, &error)) return Fail(kExitBadUsage, error);
  std::vector<SqlFile> sqlFiles;
  for (const std::string& name : options.sqlFiles) {
    SqlFile file{name, {}};
    if (!ReadWholeFile(name, &file.text, &error)) return Fail(kExitBadUsage, error);
    sqlFiles.push_back(std::move(file));
  }

  if (!options.basePath.empty() && DirectoryBasePath(options.basePath).empty())
    return Fail(kExitBadUsage, "the base directory " + options.basePath + " does not exist");

  HostEnvironment host;
  if (!host.Prepare(options, sqlFiles, &error)) return Fail(kExitSetupFailed, error);
  if (options.serve) return ServeSite(options, host);
  bool ran = false;
  {
    // The page's objects go before the host's registrations and session.
    // From the command line the request is empty and the body streams out.
    MemoryApplication application;
    PageSession session;
    session.host = host.Session();
    PageContext page;
    page.response = PageResponse(stdout);
    page.session = &session;
    page.application = &application;
    std::filesystem::path pagePath = std::filesystem::absolute(options.page);
    page.rootDirectory = pagePath.parent_path().string();
    page.scriptName = std::string(1, '/').append(pagePath.filename().string());
    JScriptEngine engine;
    auto program = engine.Compile(options.page, source, ScriptSourceMap(), &error);
    ran = program && engine.Run(page, *program, &error);
  }
  std::fflush(stdout);
  return ran ? kExitPageRan : Fail(kExitScriptError, error);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ParsedCommandLine command = ParseCommandLine(args);
  if (!command.ok) {
    std::fprintf(stderr, "kvhost: %s\nRun kvhost --help for the options.\n", command.error.c_str());
    return kExitBadUsage;
  }
  if (command.infoRequested) {
    std::fputs(command.text.c_str(), stdout);
    return kExitPageRan;
  }
  try {
    return RunPageOrServe(command.options);
  } catch (const std::exception& e) {
    return Fail(kExitScriptError, e.what());
  }
}
