#include "ventrel/vlog.h"

#include <cstdarg>

#include "common/log.h"

void VLog(LPCWSTR fmt, ...) {
  if (!IsLogEnabled()) return;
  CString text;
  va_list args;
  va_start(args, fmt);
  text.FormatV(fmt, args);
  va_end(args);
  WriteLog(text);
}
