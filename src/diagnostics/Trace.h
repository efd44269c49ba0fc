// Trace output. Every line goes to a trace sink component created afresh by
// CLSID_KvTraceSink for that line alone; when the sink cannot be created, run
// or called, the line is lost silently. None of these routines raises.
#pragma once

#include "../outside/Com.h"
#include "../outside/KvDbal.h"

// Source names of the two classes' reports.
inline constexpr const char* kSourceDataPump = "KvDataPump";
inline constexpr const char* kSourceDRPump = "KvDRPump";

// One body line, printf-formatted, no length limit.
void TraceText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One heading.
void TraceHeading(const char* text);
// Heading: the exception's class name; body "Location: %s, %d\nMessage: %s\n".
void TraceException(const CException& e, const char* source, int line);
// Heading "COM error"; body "Location: %s, %d\nHR: 0x%08X\nError: %s\nDescription: %s\n".
void TraceComError(const _com_error& e, const char* source, int line);
// Heading "General error"; body "Location: %s, %d\nError: %#08X\n%s\n".
void TraceGeneralError(HRESULT code, const char* source, int line);
// A report of the component's own: heading, then body "Location: %s, %d\n%s\n".
void TraceReport(const char* heading, const char* source, int line, const std::string& message);
