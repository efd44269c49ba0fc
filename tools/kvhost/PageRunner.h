// One page run: a fresh script heap with the page globals, the page's
// source compiled and run, and every COM object the page held released at
// the end.
#pragma once

#include <cstdio>
#include <string>

#include "PageContext.h"
#include "ScriptBridge.h"
#include "ScriptSourceMap.h"

class PageRunner {
 public:
  // The page's objects work on page, which must outlive the runner.
  explicit PageRunner(PageContext& page);
  ~PageRunner();
  PageRunner(const PageRunner&) = delete;
  PageRunner& operator=(const PageRunner&) = delete;

  // Runs source under fileName. False when the page raised an error that it
  // did not catch (a syntax error included); *error then describes it, with
  // the place taken from map when there is one. Response.End is a normal end.
  bool Run(const std::string& fileName, const std::string& source, std::string* error,
           const ScriptSourceMap* map = nullptr);

  // Makes object a global of the page under name (a host's own objects).
  void Expose(const std::string& name, const ComPtr<IDispatch>& object);

  // COM objects the page still holds.
  size_t HeldObjects() const { return m_bridge.objects.Count(); }

 private:
  ScriptBridge m_bridge;
  duk_context* m_ctx = nullptr;
};
