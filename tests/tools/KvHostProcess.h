// Runs the real kvhost as a child process on pages written into a temporary
// directory, with its own class registry, and collects what it printed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/fixture/TempDir.h"

struct KvHostRun {
  int status = -1;  // exit status; -1 when the process did not exit normally
  std::string out;
  std::string err;
};

class KvHostWorkspace {
 public:
  const std::string& Dir() const { return m_dir.Path(); }
  // The registry every run uses unless it passes --registry itself.
  std::string RegistryPath() const { return m_dir / "registry"; }
  // Writes a file into the workspace and returns its path.
  std::string Write(const std::string& name, const std::string& content) const { return m_dir.Write(name, content); }
  std::string Read(const std::string& path) const { return TempDir::Read(path); }

  // kvhost (or another of the tools) ARGS; the environment holds
  // KVCOM_REGISTRY=RegistryPath() plus extra.
  KvHostRun Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& extraEnv = {},
                const std::string& program = KVHOST_EXECUTABLE) const;
  // Starts the program like Run, without waiting; output goes to the files.
  int Spawn(const std::vector<std::string>& args, const std::map<std::string, std::string>& extraEnv,
            const std::string& outPath, const std::string& errPath,
            const std::string& program = KVHOST_EXECUTABLE) const;

 private:
  TempDir m_dir;
};
