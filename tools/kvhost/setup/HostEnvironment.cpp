#include "setup/HostEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/com/ComError.h"
#include "platform/com/ObjBase.h"
#include "platform/com/Registry.h"
#include "platform/host/HostComponents.h"
#include "platform/host/HostSession.h"
#include "platform/host/TraceSinks.h"
#include "platform/kvdbal/KvDbal.h"
#include "platform/win32/Win32.h"
#include "setup/ComponentRegistration.h"
#include "setup/DemoDatabase.h"
#include "setup/ProjectPaths.h"
#include "setup/SqlScript.h"

namespace fs = std::filesystem;

HostEnvironment::~HostEnvironment() {
  m_session.Reset();
  m_connection.Reset();
  for (DWORD cookie : m_classCookies) CoRevokeClassObject(cookie);
  for (DWORD cookie : m_traceCookies) KvRevokeTraceSink(cookie);
  if (m_comInitialized) {
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
}

bool HostEnvironment::Prepare(const KvHostOptions& options, const std::vector<SqlFile>& sqlFiles,
                              std::string* error) {
  // Chosen before anything asks the registry, so the registration check
  // and every creation use it.
  if (!options.registryFile.empty()) {
    std::error_code ec;
    fs::path registry = fs::absolute(options.registryFile, ec);
    KvRegistryUseFile((ec ? fs::path(options.registryFile) : registry).string());
  }
  if (FAILED(CoInitialize(nullptr))) {
    *error = "cannot initialise the component runtime";
    return false;
  }
  m_comInitialized = true;
  if (!RegisterHostClasses(options, error)) return false;
  const std::string module = ComponentModulePath();
  for (const std::string& warning : ForeignRegistrationWarnings(module))
    std::fprintf(stderr, "kvhost: %s\n", warning.c_str());
  if (!EnsureComponentRegistered(module, error)) return false;
  if (!OpenSession(options, error)) return false;
  return RunSqlFiles(sqlFiles, error);
}

bool HostEnvironment::RegisterHostClasses(const KvHostOptions& options, std::string* error) {
  // The host always keeps a sink: a failed component call is reported with
  // the last line it traced. --trace sends every line on to its file too.
  {
    DWORD cookie = 0;
    HRESULT hr = KvRegisterCallTraceSink(options.traceFile, &cookie);
    if (FAILED(hr)) {
      *error = "cannot set up the trace sink" + (options.traceFile.empty() ? "" : " on " + options.traceFile) +
               ": " + ComErrorText(hr);
      return false;
    }
    m_traceCookies.push_back(cookie);
  }
  // The component creates these by class id: cascade deletes walk the data
  // pack tree, clones copy stored files.
  bool registered = true;
  for (DWORD cookie : {KvRegisterHostDataPack(), KvRegisterHostFileCopier()}) {
    if (cookie != 0) m_classCookies.push_back(cookie);
    registered = registered && cookie != 0;
  }
  if (!registered) *error = "cannot register the host data pack and file copier components";
  return registered;
}

bool HostEnvironment::OpenSession(const KvHostOptions& options, std::string* error) {
  const bool demo = options.dbUrl.empty();
  std::string url = demo ? DemoDatabaseUrl() : options.dbUrl;
  std::string baseDir = options.basePath.empty() ? DemoFilesDirectory() : options.basePath;
  if (demo || options.basePath.empty()) {
    std::error_code ec;
    fs::create_directories(baseDir, ec);
  }
  std::string basePath = DirectoryBasePath(baseDir);
  if (basePath.empty()) {
    *error = "the base directory " + baseDir + " does not exist";
    return false;
  }
  // The component deletes and copies stored files only below the base path.
  KvSetFileRoots({basePath});

  KvHostSessionConfig config;
  config.connectionString = url;
  config.userId = options.userId;
  config.basePath = basePath;
  config.valid = options.sessionValid;
  m_sessionConfig = config;
  HRESULT hr = KvCreateHostSession(config, m_session.ReleaseAndGetAddressOf());
  if (FAILED(hr) || !m_session) {
    *error = "cannot create the host session: " + ComErrorText(FAILED(hr) ? hr : E_POINTER);
    return false;
  }
  // The page's connection is opened here and lent to the session, as the
  // server's pool lends one for each request: the demo database and the SQL
  // files are then prepared on the very connection the page uses (the same
  // database even for sqlite::memory:).
  try {
    IDispatch* opened = nullptr;
    KvDbOpenSessionConnection(url, &opened);
    m_connection = ComPtr<IDispatch>::Attach(opened);
    KvSetHostSessionConnection(m_session.Get(), m_connection.Get());
    CKvDbConnection connection(m_connection.Get(), true);
    if (PrepareDemoDatabase(connection, url) || demo) WriteDemoFiles(basePath);
  } catch (const CKvDbException& e) {
    *error = "cannot open the database " + url + ": " + e.Message();
    return false;
  }
  return true;
}

bool HostEnvironment::RunSqlFiles(const std::vector<SqlFile>& sqlFiles, std::string* error) {
  if (sqlFiles.empty()) return true;
  CKvDbConnection connection(m_connection.Get(), true);
  for (const SqlFile& file : sqlFiles) {
    std::vector<std::string> statements = SplitSqlStatements(file.text);
    for (size_t i = 0; i < statements.size(); ++i) {
      try {
        connection.Execute(statements[i].c_str(), nullptr, 1);
      } catch (const CKvDbException& e) {
        *error = file.name + ": statement " + std::to_string(i + 1) + " failed: " + e.Message();
        return false;
      }
    }
  }
  return true;
}
