// Everything around the script engine that a page run needs: the class
// registry, the host's own classes registered in-process (trace sink, data
// pack object, file copier), the component module, the database with its
// SQL preparation, the file root and the host session.
#pragma once

#include <string>
#include <vector>

#include "Options.h"
#include "platform/com/ComPtr.h"
#include "platform/host/HostSession.h"

// A SQL file read before set-up, so that an unreadable one is reported as
// a usage error before anything is changed.
struct SqlFile {
  std::string name;
  std::string text;
};

class HostEnvironment {
 public:
  HostEnvironment() = default;
  ~HostEnvironment();
  HostEnvironment(const HostEnvironment&) = delete;
  HostEnvironment& operator=(const HostEnvironment&) = delete;

  // False with *error when the host cannot be set up.
  bool Prepare(const KvHostOptions& options, const std::vector<SqlFile>& sqlFiles,
               std::string* error);
  const ComPtr<IDispatch>& Session() const { return m_session; }
  // How Session() was made (database resolved), for hosts that make more.
  const KvHostSessionConfig& SessionConfig() const { return m_sessionConfig; }

 private:
  bool RegisterHostClasses(const KvHostOptions& options, std::string* error);
  bool OpenSession(const KvHostOptions& options, std::string* error);
  bool RunSqlFiles(const std::vector<SqlFile>& sqlFiles, std::string* error);

  bool m_comInitialized = false;
  std::vector<DWORD> m_traceCookies;
  std::vector<DWORD> m_classCookies;
  ComPtr<IDispatch> m_session;
  // The session's database connection, opened by the host and lent to it.
  ComPtr<IDispatch> m_connection;
  KvHostSessionConfig m_sessionConfig;
};
