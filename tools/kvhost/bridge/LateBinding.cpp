#include "bridge/LateBinding.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "bridge/ScriptBridge.h"
#include "bridge/ScriptText.h"
#include "bridge/ScriptValues.h"

namespace {

uint32_t ObjectIdOf(duk_context* ctx, duk_idx_t idx) {
  duk_get_prop_literal(ctx, idx, KV_KEY_OBJECT_ID);
  uint32_t id = duk_get_uint(ctx, -1);
  duk_pop(ctx);
  return id;
}

// Releases the COM object when the script engine lets go of the object
// (garbage, or the end of the page).
duk_ret_t FinalizeTarget(duk_context* ctx) {
  uint32_t id = ObjectIdOf(ctx, 0);
  GetScriptBridge(ctx).objects.Remove(id);
  return 0;
}

void PushMemberFunction(duk_context* ctx, duk_idx_t target, DISPID dispid);

// A member of a COM object as a script names it. Its label and name are
// views of what the object table or the value stack hold while the call
// lasts (name is UTF-8).
struct MemberTarget {
  MemberTarget() = default;
  MemberTarget(const MemberTarget&) = delete;
  MemberTarget& operator=(const MemberTarget&) = delete;

  uint32_t id = 0;
  IDispatch* object = nullptr;
  bool isMethod = false;  // known to be no plain property
  std::string_view label;
  std::string_view name;
  std::string nameStorage;  // name, when it had to be converted
  DISPID dispid = DISPID_UNKNOWN;
};

// Member names are nearly always ASCII, which is the same in the engine's
// text and in UTF-8; any other is converted into target's storage.
void SetName(MemberTarget* target, std::string_view scriptName) {
  for (unsigned char c : scriptName) {
    if (c >= 0x80) {
      target->nameStorage = ScriptTextToUtf8(scriptName);
      target->name = target->nameStorage;
      return;
    }
  }
  target->name = scriptName;
}

// The live object of the table entry id, or a failure when the page still
// holds a script object whose COM object has already been released.
bool FindTarget(duk_context* ctx, uint32_t id, std::string_view scriptName, MemberTarget* target,
                ComFailure* failure) {
  target->object = GetScriptBridge(ctx).objects.Find(id, &target->label);
  SetName(target, scriptName);
  if (target->object) return true;
  *failure = ComFailure{E_POINTER, std::string(target->label) + " has already been released"};
  return false;
}

// The object at stack position 0 and its member named by the string at 1.
bool ResolveMember(duk_context* ctx, MemberTarget* target, ComFailure* failure) {
  duk_size_t length = 0;
  const char* key = duk_get_lstring(ctx, 1, &length);
  const std::string_view scriptName(key, length);
  const uint32_t id = ObjectIdOf(ctx, 0);
  target->id = id;
  if (!FindTarget(ctx, id, scriptName, target, failure)) return false;
  ObjectTable& objects = GetScriptBridge(ctx).objects;
  if (objects.KnownMember(id, scriptName, &target->dispid, &target->isMethod)) return true;
  if (!FindMember(target->object, target->label, target->name, &target->dispid, failure)) return false;
  objects.RememberMember(id, scriptName, target->dispid);
  return true;
}

// The one way into a member: pushes its result on success.
bool CallTarget(duk_context* ctx, const MemberTarget& target, WORD flags, DispArgs& args,
                ComFailure* failure) {
  CComVariant result;
  if (!CallMember(target.object, target.label, target.name, target.dispid, flags, args, &result,
                  failure))
    return false;
  PushVariantValue(ctx, result);
  return true;
}

// Calls the member with the script values on the stack top as its
// arguments (as many as args holds); pushes the result or the error.
bool CallWithScriptArguments(duk_context* ctx, const MemberTarget& target, WORD flags,
                             DispArgs& args) {
  if (!ReadScriptArguments(ctx, args)) return false;
  ComFailure failure;
  if (CallTarget(ctx, target, flags, args, &failure)) return true;
  PushComError(ctx, failure);
  return false;
}

// Conversions and the like ask for toString, valueOf, constructor...: those
// the COM object lacks come from the plain object behind the proxy (at stack
// position 0, the name at 1). Pushes the value when the plain object has it.
bool PushPlainProperty(duk_context* ctx) {
  duk_dup(ctx, 1);
  if (!duk_has_prop(ctx, 0)) return false;
  duk_dup(ctx, 1);
  duk_get_prop(ctx, 0);
  return true;
}

// The member of the object at stack position 0 named by the string at 1.
// Leaves the value, or an error object, on the stack top.
bool ReadMember(duk_context* ctx) {
  MemberTarget target;
  ComFailure failure;
  if (ResolveMember(ctx, &target, &failure)) {
    DispArgs none(0);
    if (!target.isMethod && CallTarget(ctx, target, DISPATCH_PROPERTYGET, none, &failure)) return true;
    // A member that needs arguments, or is a method, is handed out as a
    // function to call; an object's members keep their kind while it lives.
    if (target.isMethod || IsNotAPlainProperty(failure.hr)) {
      if (!target.isMethod) GetScriptBridge(ctx).objects.RememberMethod(target.id, target.dispid);
      PushMemberFunction(ctx, 0, target.dispid);
      return true;
    }
  } else if (target.object && PushPlainProperty(ctx)) {
    return true;
  }
  PushComError(ctx, failure);
  return false;
}

// Puts the value at stack position 2 into the member named by the string at 1.
bool WriteMember(duk_context* ctx) {
  MemberTarget target;
  ComFailure failure;
  if (!ResolveMember(ctx, &target, &failure)) {
    PushComError(ctx, failure);
    return false;
  }
  DispArgs args(1);
  duk_dup(ctx, 2);
  if (!CallWithScriptArguments(ctx, target, DISPATCH_PROPERTYPUT, args)) return false;
  // A set trap reports success, not the put's (empty) result.
  duk_pop(ctx);
  duk_push_true(ctx);
  return true;
}

// A member function carries its dispatch id in the function's magic, which
// holds 16 bits; the rare id beyond them goes into a property.
constexpr duk_int_t kDispIdInProperty = INT16_MIN;

// Invokes the member that the running member function stands for with the
// call's arguments.
bool InvokeMember(duk_context* ctx) {
  duk_idx_t argCount = duk_get_top(ctx);
  DISPID dispid = duk_get_current_magic(ctx);
  duk_push_current_function(ctx);
  if (dispid == kDispIdInProperty) {
    duk_get_prop_literal(ctx, -1, KV_KEY_DISPID);
    dispid = duk_get_int(ctx, -1);
    duk_pop(ctx);
  }
  duk_get_prop_literal(ctx, -1, KV_KEY_TARGET);
  uint32_t id = ObjectIdOf(ctx, -1);
  // The function itself keeps the target, and so the COM object, alive.
  duk_pop_2(ctx);

  MemberTarget target;
  ComFailure failure;
  ObjectTable& objects = GetScriptBridge(ctx).objects;
  if (!FindTarget(ctx, id, objects.MemberName(id, dispid), &target, &failure)) {
    PushComError(ctx, failure);
    return false;
  }
  target.dispid = dispid;
  DispArgs args(static_cast<size_t>(argCount));
  return CallWithScriptArguments(ctx, target, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

duk_ret_t CallMemberFunction(duk_context* ctx) {
  if (!InvokeMember(ctx)) return duk_throw(ctx);
  return 1;
}

void PushMemberFunction(duk_context* ctx, duk_idx_t target, DISPID dispid) {
  target = duk_normalize_index(ctx, target);
  duk_push_c_function(ctx, CallMemberFunction, DUK_VARARGS);
  duk_dup(ctx, target);
  duk_put_prop_literal(ctx, -2, KV_KEY_TARGET);
  if (dispid > kDispIdInProperty && dispid <= INT16_MAX) {
    duk_set_magic(ctx, -1, dispid);
  } else {
    duk_set_magic(ctx, -1, kDispIdInProperty);
    duk_push_int(ctx, dispid);
    duk_put_prop_literal(ctx, -2, KV_KEY_DISPID);
  }
}


bool IsMemberName(duk_context* ctx, duk_idx_t key) {
  return duk_is_string(ctx, key) && !duk_is_symbol(ctx, key);
}

// get(target, key, receiver)
duk_ret_t GetTrap(duk_context* ctx) {
  if (!IsMemberName(ctx, 1)) {
    duk_dup(ctx, 1);
    duk_get_prop(ctx, 0);
    return 1;
  }
  if (!ReadMember(ctx)) return duk_throw(ctx);
  return 1;
}

// set(target, key, value, receiver)
duk_ret_t SetTrap(duk_context* ctx) {
  if (!IsMemberName(ctx, 1)) {
    duk_dup(ctx, 1);
    duk_dup(ctx, 2);
    duk_put_prop(ctx, 0);
    duk_push_true(ctx);
    return 1;
  }
  if (!WriteMember(ctx)) return duk_throw(ctx);
  return 1;
}

}  // namespace

void InstallLateBinding(duk_context* ctx) {
  duk_push_heap_stash(ctx);
  duk_get_global_string(ctx, "Date");
  duk_get_prop_string(ctx, -1, "prototype");
  duk_get_prop_string(ctx, -1, "getTime");
  duk_put_prop_string(ctx, -4, kStashGetTime);
  duk_pop(ctx);
  duk_put_prop_string(ctx, -2, kStashDate);

  duk_push_object(ctx);
  duk_push_c_function(ctx, GetTrap, 3);
  duk_put_prop_string(ctx, -2, "get");
  duk_push_c_function(ctx, SetTrap, 4);
  duk_put_prop_string(ctx, -2, "set");
  duk_put_prop_string(ctx, -2, kStashHandler);
  duk_pop(ctx);
}

void PushLateBoundObject(duk_context* ctx, uint32_t id) {
  duk_push_object(ctx);
  duk_push_uint(ctx, id);
  duk_put_prop_literal(ctx, -2, KV_KEY_OBJECT_ID);
  duk_push_c_function(ctx, FinalizeTarget, 2);
  duk_set_finalizer(ctx, -2);
  duk_push_heap_stash(ctx);
  duk_get_prop_string(ctx, -1, kStashHandler);
  duk_remove(ctx, -2);
  duk_push_proxy(ctx, 0);
}

void PushComError(duk_context* ctx, const ComFailure& failure) {
  std::u16string wide = Utf8ToUtf16(failure.message);
  std::string message = Utf16ToScriptText(wide.data(), wide.size());
  duk_push_error_object(ctx, DUK_ERR_ERROR | kBlamePageLine, "%s", message.c_str());
  duk_push_int(ctx, failure.hr);
  duk_put_prop_string(ctx, -2, "number");
  duk_push_string(ctx, message.c_str());
  duk_put_prop_string(ctx, -2, "description");
}
