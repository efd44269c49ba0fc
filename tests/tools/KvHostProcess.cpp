#include "KvHostProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int KvHostWorkspace::Spawn(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& extraEnv, const std::string& outPath,
                           const std::string& errPath, const std::string& program) const {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    if (name != "KVCOM_REGISTRY" && !extraEnv.count(name)) env.push_back(entry);
  }
  env.push_back("KVCOM_REGISTRY=" + RegistryPath());
  for (const auto& [name, value] : extraEnv) env.push_back(name + "=" + value);

  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argvPtrs, envPtrs;
  for (std::string& a : argv) argvPtrs.push_back(a.data());
  argvPtrs.push_back(nullptr);
  for (std::string& e : env) envPtrs.push_back(e.data());
  envPtrs.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(Dir().c_str()) != 0) _exit(126);
    execve(argvPtrs[0], argvPtrs.data(), envPtrs.data());
    _exit(127);
  }
  return pid;
}

KvHostRun KvHostWorkspace::Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& extraEnv,
                               const std::string& program) const {
  const std::string outPath = m_dir / ".stdout", errPath = m_dir / ".stderr";
  pid_t pid = Spawn(args, extraEnv, outPath, errPath, program);
  KvHostRun run;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = Read(outPath);
  run.err = Read(errPath);
  return run;
}
