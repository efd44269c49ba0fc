#include "PageRunner.h"

#include <cstdlib>

#include "LateBinding.h"
#include "PageGlobals.h"
#include "ScriptText.h"

namespace {

// Only reached for an error outside every protected call, which the runner
// never makes; there is nothing left to unwind to.
void FatalError(void*, const char* message) {
  std::fprintf(stderr, "kvhost: fatal script engine error: %s\n", message ? message : "");
  std::fflush(stderr);
  std::abort();
}

// Source text without a leading byte order mark.
std::string_view WithoutBom(const std::string& source) {
  std::string_view text(source);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return text;
}

// Runs the compiled function on the stack top; stack: [... function] -> [... result]
duk_ret_t RunCompiled(duk_context* ctx, void*) {
  duk_call(ctx, 0);
  return 1;
}

// The report of an uncaught value: "file:line: message" for errors that
// know where they arose, the value's text otherwise.
duk_ret_t DescribeUncaught(duk_context* ctx, void*) {
  // [error]
  if (duk_is_error(ctx, 0)) {
    duk_get_prop_string(ctx, 0, "fileName");
    duk_get_prop_string(ctx, 0, "lineNumber");
    if (duk_is_string(ctx, -2) && duk_is_number(ctx, -1)) {
      duk_push_sprintf(ctx, "%s:%ld: ", duk_get_string(ctx, -2),
                       static_cast<long>(duk_get_int(ctx, -1)));
    } else {
      duk_push_string(ctx, "");
    }
    duk_remove(ctx, -2);
    duk_remove(ctx, -2);
  } else {
    duk_push_string(ctx, "uncaught: ");
  }
  duk_dup(ctx, 0);
  duk_to_string(ctx, -1);
  duk_concat(ctx, 2);
  return 1;
}

}  // namespace

PageRunner::PageRunner(const ComPtr<IDispatch>& session, std::FILE* output) {
  m_bridge.output = output;
  m_ctx = duk_create_heap(nullptr, nullptr, nullptr, nullptr, FatalError);
  if (!m_ctx) {
    std::fprintf(stderr, "kvhost: cannot create the script heap\n");
    std::exit(1);
  }
  AttachScriptBridge(m_ctx, &m_bridge);
  InstallLateBinding(m_ctx);
  InstallPageGlobals(m_ctx, session);
}

PageRunner::~PageRunner() {
  // Destroying the heap runs the finalizers of the objects still alive,
  // which release their COM objects; the table lets go of any the engine
  // did not finalise.
  duk_destroy_heap(m_ctx);
  m_bridge.objects.Clear();
}

bool PageRunner::Run(const std::string& fileName, const std::string& source, std::string* error) {
  std::string_view text = WithoutBom(source);
  duk_push_lstring(m_ctx, text.data(), text.size());
  duk_push_lstring(m_ctx, fileName.data(), fileName.size());
  bool ok = duk_pcompile(m_ctx, DUK_COMPILE_SHEBANG) == 0 &&
            duk_safe_call(m_ctx, RunCompiled, nullptr, 1, 1) == DUK_EXEC_SUCCESS;
  if (!ok) {
    if (duk_safe_call(m_ctx, DescribeUncaught, nullptr, 1, 1) != DUK_EXEC_SUCCESS) {
      duk_pop(m_ctx);
      duk_push_string(m_ctx, "uncaught error (its description failed as well)");
    }
    duk_size_t length = 0;
    const char* description = duk_get_lstring(m_ctx, -1, &length);
    *error = ScriptTextToUtf8(std::string_view(description ? description : "", length));
  }
  duk_pop(m_ctx);
  return ok;
}
