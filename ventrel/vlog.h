// Run-log lines of the library: formatted with the platform's wide printf
// and written through the one logger, only while logging is on.
#pragma once

#include "framework/afx.h"

void VLog(LPCWSTR fmt, ...);
