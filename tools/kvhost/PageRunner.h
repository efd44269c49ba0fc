// One page run: a fresh script heap with the page globals, the page's
// source compiled and run, and every COM object the page held released at
// the end.
#pragma once

#include <cstdio>
#include <string>

#include "ScriptBridge.h"
#include "platform/com/ComPtr.h"

class PageRunner {
 public:
  // output receives what the page writes with Response.Write.
  PageRunner(const ComPtr<IDispatch>& session, std::FILE* output);
  ~PageRunner();
  PageRunner(const PageRunner&) = delete;
  PageRunner& operator=(const PageRunner&) = delete;

  // Runs source under fileName. False when the page raised an error that it
  // did not catch (a syntax error included); *error then describes it.
  bool Run(const std::string& fileName, const std::string& source, std::string* error);

  // COM objects the page still holds.
  size_t HeldObjects() const { return m_bridge.objects.Count(); }

 private:
  ScriptBridge m_bridge;
  duk_context* m_ctx = nullptr;
};
