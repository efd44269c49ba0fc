// Pages in JScript, run by the Duktape engine. One engine is one script
// heap, made once and kept for many pages: each page runs in a thread of the
// heap with built-ins and a global object of its own, so that what a page
// does to globals or to the built-ins' prototypes dies with it. Compiled
// pages are bytecode, loaded into whichever engine runs them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "PageEngine.h"
#include "ScriptBridge.h"

class JScriptEngine final : public PageEngine {
 public:
  // heapLimitBytes: the most the heap may allocate (0: no limit beyond the
  // process's). Throws std::runtime_error when the heap cannot be made.
  explicit JScriptEngine(size_t heapLimitBytes = 0);
  ~JScriptEngine() override;
  JScriptEngine(const JScriptEngine&) = delete;
  JScriptEngine& operator=(const JScriptEngine&) = delete;

  std::shared_ptr<const CompiledProgram> Compile(const std::string& fileName, const std::string& script,
                                                 ScriptSourceMap map, std::string* error) override;
  bool Run(PageContext& page, const CompiledProgram& program, std::string* error) override;

 private:
  ScriptBridge m_bridge;
  duk_context* m_ctx = nullptr;
};
