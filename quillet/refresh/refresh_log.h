// Formatted lines for the run log, written only while logging is on.
#pragma once

#include <cstdarg>

#include "common/log.h"
#include "framework/cstring.h"

// Formats `format` and its arguments the way CString::Format does and writes
// the line to the run log; does nothing (not even the formatting) while
// logging is off.
inline void LogF(LPCWSTR format, ...) {
  if (!IsLogEnabled()) return;
  va_list args;
  va_start(args, format);
  CString text;
  text.FormatV(format, args);
  va_end(args);
  WriteLog(text);
}
