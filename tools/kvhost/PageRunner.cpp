#include "PageRunner.h"

#include <chrono>
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

// What the runner needs to know of an uncaught value.
struct UncaughtValue {
  bool pageEnded = false;  // Response.End
  long line = 0;           // 0: not known
};

// [value] -> [value text, file name or undefined]
duk_ret_t InspectUncaught(duk_context* ctx, void* udata) {
  auto* uncaught = static_cast<UncaughtValue*>(udata);
  if (duk_is_error(ctx, 0)) {
    duk_get_prop_string(ctx, 0, KV_KEY_PAGE_END);
    uncaught->pageEnded = duk_to_boolean(ctx, -1);
    duk_pop(ctx);
    duk_get_prop_string(ctx, 0, "lineNumber");
    if (duk_is_number(ctx, -1)) uncaught->line = static_cast<long>(duk_get_int(ctx, -1));
    duk_pop(ctx);
    duk_get_prop_string(ctx, 0, "fileName");
    if (!duk_is_string(ctx, -1)) uncaught->line = 0;
    duk_dup(ctx, 0);
    duk_to_string(ctx, -1);
  } else {
    duk_push_undefined(ctx);
    duk_push_string(ctx, "uncaught: ");
    duk_dup(ctx, 0);
    duk_to_string(ctx, -1);
    duk_concat(ctx, 2);
  }
  duk_swap(ctx, -1, -2);
  return 2;
}

std::string StackText(duk_context* ctx, duk_idx_t idx) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, idx, &length);
  return ScriptTextToUtf8(std::string_view(text ? text : "", length));
}

}  // namespace

// The engine is built with its execution-timeout hook: every so many bytecode
// instructions it asks whether the heap's page is past its deadline and, once
// it is, raises a RangeError. The answer stays yes, so a page that catches the
// error and loops on meets it again at once. A native call in progress (a
// database query) is not interrupted; the page stops when it returns.
extern "C" duk_bool_t KvScriptTimedOut(void* udata) {
  const auto* bridge = static_cast<const ScriptBridge*>(udata);
  if (!bridge || !bridge->page) return 0;
  return std::chrono::steady_clock::now() >= bridge->page->deadline ? 1 : 0;
}

PageRunner::PageRunner(PageContext& page) {
  m_bridge.page = &page;
  m_ctx = duk_create_heap(nullptr, nullptr, nullptr, &m_bridge, FatalError);
  if (!m_ctx) {
    std::fprintf(stderr, "kvhost: cannot create the script heap\n");
    std::exit(1);
  }
  AttachScriptBridge(m_ctx, &m_bridge);
  InstallLateBinding(m_ctx);
  InstallPageGlobals(m_ctx);
}

PageRunner::~PageRunner() {
  // Destroying the heap runs the finalizers of the objects still alive,
  // which release their COM objects; the table lets go of any the engine
  // did not finalise.
  duk_destroy_heap(m_ctx);
  m_bridge.objects.Clear();
  if (m_bridge.page->applicationLock.owns_lock()) m_bridge.page->applicationLock.unlock();
}

void PageRunner::Expose(const std::string& name, const ComPtr<IDispatch>& object) {
  PushLateBoundObject(m_ctx, m_bridge.objects.Add(object, name));
  duk_put_global_lstring(m_ctx, name.data(), name.size());
}

bool PageRunner::Run(const std::string& fileName, const std::string& source, std::string* error,
                     const ScriptSourceMap* map) {
  std::string_view text = WithoutBom(source);
  duk_push_lstring(m_ctx, text.data(), text.size());
  duk_push_lstring(m_ctx, fileName.data(), fileName.size());
  bool ok = duk_pcompile(m_ctx, DUK_COMPILE_SHEBANG) == 0 &&
            duk_safe_call(m_ctx, RunCompiled, nullptr, 1, 1) == DUK_EXEC_SUCCESS;
  if (ok) {
    duk_pop(m_ctx);
    return true;
  }
  UncaughtValue uncaught;
  if (duk_safe_call(m_ctx, InspectUncaught, &uncaught, 1, 2) != DUK_EXEC_SUCCESS) {
    duk_pop_2(m_ctx);
    *error = "uncaught error (its description failed as well)";
    return false;
  }
  if (uncaught.pageEnded) {
    duk_pop_2(m_ctx);
    return true;
  }
  std::string place;
  if (uncaught.line > 0) {
    place = map ? map->Place(uncaught.line) : "";
    if (place.empty()) place = StackText(m_ctx, -1) + ":" + std::to_string(uncaught.line);
  }
  *error = (place.empty() ? "" : place + ": ") + StackText(m_ctx, -2);
  duk_pop_2(m_ctx);
  return false;
}
