// The trace routines. Every line goes to a sink object created for that line
// alone, so the host decides by registration where lines end up, and a sink
// that cannot be created, run or called costs the line and nothing else.
#include "Trace.h"

#include <cstdarg>
#include <cstdio>

#include "../common/Format.h"
#include "../outside/FileServices.h"
#include "../outside/HostObjects.h"

namespace {

// In-process server, in-process handler or local server.
constexpr DWORD kSinkContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

void WriteLine(bool heading, const std::string& text) noexcept {
  try {
    ComPtr<ITraceSink> sink;
    {
      ComPtr<IUnknown> unknown;
      HRESULT hr = CoCreateInstance(CLSID_KvTraceSink, nullptr, kSinkContext, IID_IUnknown,
                                    unknown.ReleaseAndGetVoidAddress());
      if (FAILED(hr) || !unknown) return;
      hr = OleRun(unknown.Get());
      if (FAILED(hr)) return;
      hr = unknown.As(&sink);
      if (FAILED(hr) || !sink) return;
    }
    CComBSTR bstr = CComBSTR::Attach(BstrFromUtf8(text));
    if (!bstr.Get() && !text.empty()) return;
    if (heading)
      sink->WriteHeading(bstr.Get());
    else
      sink->WriteText(bstr.Get());
  } catch (...) {
    // A line that cannot be written is lost; the caller goes on.
  }
}

}  // namespace

void TraceText(const char* format, ...) {
  if (format == nullptr) return;
  std::string text;
  va_list args;
  va_start(args, format);
  bool formatted = true;
  try {
    text = FormatV(format, args);
  } catch (...) {
    formatted = false;  // out of memory: the line is lost
  }
  va_end(args);
  if (formatted) WriteLine(false, text);
}

void TraceHeading(const char* text) {
  try {
    WriteLine(true, text ? std::string(text) : std::string());
  } catch (...) {
    // out of memory while copying the heading: the line is lost
  }
}

void TraceException(const CException& e, const char* source, int line) {
  // The message is read into a buffer of 255 characters, as the framework's
  // reports always did, so a longer message is cut at 254.
  char message[255];
  message[0] = '\0';
  try {
    e.GetErrorMessage(message, sizeof message);
  } catch (...) {
    message[0] = '\0';
  }
  TraceHeading(e.GetRuntimeClassName());
  TraceText("Location: %s, %d\nMessage: %s\n", source, line, message);
}

void TraceComError(const _com_error& e, const char* source, int line) {
  TraceHeading("COM error");
  try {
    // Without error information the description is a null string, which
    // the C runtime's formatter has always written as "(null)".
    const BSTR description = e.Description();
    const std::string descriptionText = description ? Utf8FromBstr(description) : std::string("(null)");
    const std::string errorText = ComErrorText(e.Error());
    TraceText("Location: %s, %d\nHR: 0x%08X\nError: %s\nDescription: %s\n", source, line,
              static_cast<unsigned>(e.Error()), errorText.c_str(), descriptionText.c_str());
  } catch (...) {
    // out of memory while building the body: that line is lost
  }
}

void TraceGeneralError(HRESULT code, const char* source, int line) {
  try {
    // The system text keeps its line break here, so the report ends in a blank line.
    const std::string text = SystemMessageText(static_cast<DWORD>(code));
    TraceHeading("General error");
    TraceText("Location: %s, %d\nError: %#08X\n%s\n", source, line, static_cast<unsigned>(code),
              text.c_str());
  } catch (...) {
    // out of memory while copying the system text: the report is lost
  }
}

void TraceReport(const char* heading, const char* source, int line, const std::string& message) {
  TraceHeading(heading);
  TraceText("Location: %s, %d\n%s\n", source, line, message.c_str());
}
