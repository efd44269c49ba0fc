// Late-bound calls on IDispatch as a page makes them: by ProgID and member
// name, with messages that tell the page author what went wrong.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/ComPtr.h"

// A failed call: the HRESULT the page sees as the error's number, and the
// message of the error.
struct ComFailure {
  HRESULT hr = S_OK;
  std::string message;
};

// The arguments of one call, owned here and kept in the reverse order in
// which DISPPARAMS carries them. The callee may change an argument in place
// (a VARIANT* parameter can take an array over and leave VT_EMPTY behind),
// so what is cleared at the end is whatever the slots then hold.
class DispArgs {
 public:
  explicit DispArgs(size_t count);
  ~DispArgs();
  DispArgs(const DispArgs&) = delete;
  DispArgs& operator=(const DispArgs&) = delete;

  size_t Count() const { return m_count; }
  // Argument i in call order (0 is the first argument of the call).
  VARIANT* Arg(size_t i) { return &m_slots[m_count - 1 - i]; }
  DISPPARAMS Params();
  // For a property put: the one argument is the value being put.
  DISPPARAMS PutParams();

 private:
  // Most calls pass a few arguments: those need no allocation.
  static constexpr size_t kInline = 4;
  VARIANT m_inline[kInline];
  std::vector<VARIANT> m_more;
  VARIANT* m_slots;
  size_t m_count;
  DISPID m_putId = DISPID_PROPERTYPUT;
};

// "label.name: text (0x80004005)"
std::string DescribeFailure(std::string_view label, std::string_view name, HRESULT hr, const std::string& detail);

// Looks name up on the object.
bool FindMember(IDispatch* object, std::string_view label, std::string_view name, DISPID* dispid,
                ComFailure* failure);

// Invokes the member. On failure the message names label.name and, where
// the object raised an exception, its description; a property get without
// arguments that the member refuses as no plain property (see
// IsNotAPlainProperty) sets only failure->hr.
bool CallMember(IDispatch* object, std::string_view label, std::string_view name, DISPID dispid, WORD flags,
                DispArgs& args, VARIANT* result, ComFailure* failure);

// Creates an object by ProgID and asks it for IDispatch.
bool CreateObjectByProgId(const std::string& progId, ComPtr<IDispatch>* object,
                          ComFailure* failure);

// True for the answers of a property get that mean "this member is no
// property readable without arguments" rather than a failure of the member.
bool IsNotAPlainProperty(HRESULT hr);
