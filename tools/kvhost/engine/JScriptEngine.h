// Pages in JScript, run by the Duktape engine. One engine is one script
// heap, made once and kept for many pages. Each page runs in a thread of the
// heap with a global object of its own, so the globals a page leaves die
// with it. The built-in objects (Object.prototype, Array.prototype, Math,
// ...) are shared by the pages of a heap, because making them afresh costs
// more than most pages; a record of them is checked after every page, and a
// page that changed one leaves a heap that is thrown away and made anew
// before the next page runs. Compiled pages are bytecode, loaded into
// whichever engine runs them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "BuiltinsSnapshot.h"
#include "bridge/ScriptBridge.h"
#include "engine/PageEngine.h"

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
  // Due when the heap is within a few pages' allocations of collecting on
  // its own; Tidy collects it.
  bool DueForTidying() const override;
  void Tidy() override;
  // Allocations left before the heap would collect on its own.
  long AllocationsBeforeCollection() const;

  // Bytes the heap holds; counted only when it has a limit.
  size_t HeapBytes() const { return m_bridge.heapBytes; }

  // How many times the heap was made anew after a page changed a built-in.
  size_t Renewals() const { return m_renewals; }

 private:
  void MakeHeap();
  void DestroyHeap();

  ScriptBridge m_bridge;
  duk_context* m_ctx = nullptr;
  // Null when the heap's built-ins hold something the record cannot follow;
  // each page then gets built-ins of its own.
  KvBuiltinsSnapshot* m_builtins = nullptr;
  bool m_builtinsChanged = false;
  size_t m_renewals = 0;
  // Allocations the last page made, for telling when a collection is near.
  long m_pageAllocations = 0;
};
