#include "engine/JScriptEngine.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "CollectionTrigger.h"
#include "bridge/LateBinding.h"
#include "bridge/ScriptText.h"
#include "page/PageGlobals.h"

namespace {

// Only reached for an error outside every protected call, which the engine
// never makes; there is nothing left to unwind to.
void FatalError(void*, const char* message) {
  std::fprintf(stderr, "kvhost: fatal script engine error: %s\n", message ? message : "");
  std::fflush(stderr);
  std::abort();
}

// Allocation within the bridge's heap budget; the engine treats a refusal
// as running out of memory.
void* LimitedAlloc(void* udata, duk_size_t size) {
  auto* bridge = static_cast<ScriptBridge*>(udata);
  if (bridge->heapBytes + size > bridge->heapLimit) return nullptr;
  void* block = std::malloc(size);
  if (block) bridge->heapBytes += malloc_usable_size(block);
  return block;
}

void LimitedFree(void* udata, void* block) {
  if (!block) return;
  static_cast<ScriptBridge*>(udata)->heapBytes -= malloc_usable_size(block);
  std::free(block);
}

void* LimitedRealloc(void* udata, void* block, duk_size_t size) {
  auto* bridge = static_cast<ScriptBridge*>(udata);
  if (size == 0) {
    LimitedFree(udata, block);
    return nullptr;
  }
  const size_t before = block ? malloc_usable_size(block) : 0;
  if (size > before && bridge->heapBytes + (size - before) > bridge->heapLimit) return nullptr;
  void* moved = std::realloc(block, size);
  if (!moved) return nullptr;
  bridge->heapBytes = bridge->heapBytes - before + malloc_usable_size(moved);
  return moved;
}

// Source text without a leading byte order mark.
std::string_view WithoutBom(const std::string& source) {
  std::string_view text(source);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  return text;
}

struct JScriptProgram final : CompiledProgram {
  std::string bytecode;
  ScriptSourceMap map;
};

// [source fileName] -> [bytecode buffer]
duk_ret_t CompileToBytecode(duk_context* ctx, void*) {
  duk_compile(ctx, DUK_COMPILE_SHEBANG);
  duk_dump_function(ctx);
  return 1;
}

// Readies the heap's own thread for sharing its built-ins: no way left for a
// page to register a script finalizer, which would run its code during a
// later page, the page objects that hold nothing of one page made once
// among them, so the record of the built-ins watches them as well, and the
// built-in methods frozen, so that it need not watch those.
// [] -> [whether pages can be given copies of its global object]
duk_ret_t PrepareSharedBuiltins(duk_context* ctx, void*) {
  duk_get_global_string(ctx, "Duktape");
  if (duk_is_object(ctx, -1)) duk_del_prop_string(ctx, -1, "fin");
  duk_pop(ctx);
  InstallLateBinding(ctx);
  InstallSharedPageObjects(ctx);
  KvFreezeBuiltinMethods(ctx);
  const bool copies = KvPushGlobalCopy(ctx, ctx);
  if (copies) duk_pop(ctx);
  duk_push_boolean(ctx, copies);
  return 1;
}

// [] -> [thread for a page]: with a copy of the heap's global object over
// the shared built-ins (shared set), else with built-ins of its own.
duk_ret_t PushPageThread(duk_context* ctx, void* shared) {
  if (!shared) {
    duk_push_thread_new_globalenv(ctx);
    return 1;
  }
  duk_push_thread(ctx);
  duk_context* thread = duk_get_context(ctx, -1);
  KvPushGlobalCopy(thread, ctx);
  duk_set_global_object(thread);
  return 1;
}

struct PageStart {
  const JScriptProgram* program;
  bool sharedBuiltins;  // the page's global object is a copy of the heap's
};

// Sets up the page's globals and runs the program. [] -> [result]
duk_ret_t StartPage(duk_context* ctx, void* udata) {
  const auto& start = *static_cast<const PageStart*>(udata);
  const JScriptProgram* program = start.program;
  if (start.sharedBuiltins) {
    BeginPageSession(ctx);
  } else {
    // Built-ins of the page's own: late binding must know its Date.
    InstallLateBinding(ctx);
    InstallPageGlobals(ctx);
  }
  void* buffer = duk_push_fixed_buffer(ctx, program->bytecode.size());
  std::memcpy(buffer, program->bytecode.data(), program->bytecode.size());
  duk_load_function(ctx);
  duk_call(ctx, 0);
  return 1;
}

// What the engine needs to know of an uncaught value.
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

// Takes the uncaught value off the stack top. False with *error describing
// it, the place taken from map when it knows the line; true when the value
// is the one Response.End raises.
bool DescribeUncaught(duk_context* ctx, const ScriptSourceMap& map, std::string* error) {
  UncaughtValue uncaught;
  if (duk_safe_call(ctx, InspectUncaught, &uncaught, 1, 2) != DUK_EXEC_SUCCESS) {
    duk_pop_2(ctx);
    *error = "uncaught error (its description failed as well)";
    return false;
  }
  if (uncaught.pageEnded) {
    duk_pop_2(ctx);
    return true;
  }
  std::string place;
  if (uncaught.line > 0) {
    place = map.Place(uncaught.line);
    if (place.empty()) place = StackText(ctx, -1) + ":" + std::to_string(uncaught.line);
  }
  *error = (place.empty() ? "" : place + ": ") + StackText(ctx, -2);
  duk_pop_2(ctx);
  return false;
}

// The page's hold on the engine: whatever way the page ends, the objects it
// made are released, the application lock it took is let go and the heap no
// longer points at it.
class PageScope {
 public:
  PageScope(ScriptBridge& bridge, PageContext& page) : m_bridge(bridge) { m_bridge.page = &page; }
  ~PageScope() {
    // The table holds the references; the script objects that stand for
    // them may live on as garbage until the collector comes by, and their
    // finalizers then find nothing left to release.
    m_bridge.objects.Clear();
    if (m_bridge.page->applicationLock.owns_lock()) m_bridge.page->applicationLock.unlock();
    m_bridge.page = nullptr;
    m_bridge.sessionHost = nullptr;
  }
  PageScope(const PageScope&) = delete;
  PageScope& operator=(const PageScope&) = delete;

 private:
  ScriptBridge& m_bridge;
};

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

JScriptEngine::JScriptEngine(size_t heapLimitBytes) {
  m_bridge.heapLimit = heapLimitBytes;
  MakeHeap();
}

JScriptEngine::~JScriptEngine() { DestroyHeap(); }

void JScriptEngine::MakeHeap() {
  m_bridge.heapBytes = 0;
  if (m_bridge.heapLimit > 0)
    m_ctx = duk_create_heap(LimitedAlloc, LimitedRealloc, LimitedFree, &m_bridge, FatalError);
  else
    m_ctx = duk_create_heap(nullptr, nullptr, nullptr, &m_bridge, FatalError);
  if (!m_ctx) throw std::runtime_error("cannot create the script heap");
  m_builtinsChanged = false;
  if (duk_safe_call(m_ctx, PrepareSharedBuiltins, nullptr, 0, 1) == DUK_EXEC_SUCCESS && duk_get_boolean(m_ctx, -1))
    m_builtins = KvRecordBuiltins(m_ctx);
  duk_pop(m_ctx);
}

void JScriptEngine::DestroyHeap() {
  // Destroying the heap runs the finalizers of the objects still alive; the
  // table has released their COM objects when their pages ended.
  KvFreeBuiltinsSnapshot(m_builtins);
  m_builtins = nullptr;
  duk_destroy_heap(m_ctx);
  m_ctx = nullptr;
}

std::shared_ptr<const CompiledProgram> JScriptEngine::Compile(const std::string& fileName,
                                                              const std::string& script,
                                                              ScriptSourceMap map, std::string* error) {
  std::string_view text = WithoutBom(script);
  duk_push_lstring(m_ctx, text.data(), text.size());
  duk_push_lstring(m_ctx, fileName.data(), fileName.size());
  if (duk_safe_call(m_ctx, CompileToBytecode, nullptr, 2, 1) != DUK_EXEC_SUCCESS) {
    // A syntax error cannot be Response.End: the description is the answer.
    DescribeUncaught(m_ctx, map, error);
    return nullptr;
  }
  auto program = std::make_shared<JScriptProgram>();
  duk_size_t size = 0;
  const auto* bytes = static_cast<const char*>(duk_get_buffer(m_ctx, -1, &size));
  program->bytecode.assign(bytes, size);
  program->map = std::move(map);
  duk_pop(m_ctx);
  return program;
}

bool JScriptEngine::Run(PageContext& page, const CompiledProgram& compiled, std::string* error) {
  const auto& program = dynamic_cast<const JScriptProgram&>(compiled);
  if (m_builtinsChanged) {
    DestroyHeap();
    MakeHeap();
    ++m_renewals;
  }
  const long allocationsLeft = AllocationsBeforeCollection();
  if (duk_safe_call(m_ctx, PushPageThread, m_builtins, 0, 1) != DUK_EXEC_SUCCESS) {
    duk_pop(m_ctx);
    throw std::runtime_error("cannot make the page's script environment");
  }
  duk_context* thread = duk_get_context(m_ctx, -1);
  bool ok = false;
  {
    PageScope scope(m_bridge, page);
    PageStart start{&program, m_builtins != nullptr};
    ok = duk_safe_call(thread, StartPage, &start, 0, 1) == DUK_EXEC_SUCCESS;
    if (ok)
      duk_pop(thread);
    else
      ok = DescribeUncaught(thread, program.map, error);
  }
  // The page's COM objects went first, in their own order; now whatever
  // only the page could reach is freed, through its globals and its thread.
  KvReleaseGlobals(thread);
  duk_pop(m_ctx);
  if (m_builtins && !KvBuiltinsUnchanged(m_ctx, m_builtins)) m_builtinsChanged = true;
  // A collection during the page restarted the count; the last page's
  // allocations are then not known, and the earlier figure stands.
  const long used = allocationsLeft - AllocationsBeforeCollection();
  if (used > 0) m_pageAllocations = used;
  return ok;
}

long JScriptEngine::AllocationsBeforeCollection() const { return m_ctx ? KvAllocationsBeforeCollection(m_ctx) : 0; }

bool JScriptEngine::DueForTidying() const {
  // A few pages like the last one would reach the heap's own trigger.
  return m_ctx && AllocationsBeforeCollection() < 4 * std::max(m_pageAllocations, 1024L);
}

void JScriptEngine::Tidy() {
  if (m_ctx) duk_gc(m_ctx, 0);
}
