// The short display form of a stored item date ("%04d-%02d-%02d %02d:%02d:%02d"):
// "Today, 14:05" or "Mar 05, 02:05 PM" in the device's language and clock.
#pragma once

#include "framework/afx.h"

CString& FormatDisplayDate(CString& out, const CString& stored);
