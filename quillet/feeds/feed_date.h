// Feed dates and time arithmetic.
//
// Feeds give dates as W3C date-time (Atom, Dublin Core) or RFC 822 (RSS 2.0).
// Every item date is stored as local-time text "%04d-%02d-%02d %02d:%02d:%02d",
// which sorts as text. Times are seconds since 1970-01-01 00:00:00 UTC, kept
// in 64 bits so that dates after 2038 convert. The local offset is always the
// one in force now (qk::LocalOffsetMinutes), as the device applies it.
//
// Every function here is reentrant: results go to the caller's storage, so
// the refresh thread, the full-text manager and the user interface may
// convert dates at the same time.
#pragma once

#include <cstdint>
#include <ctime>

#include "kernel/types.h"

// Length of a formatted feed date, without the terminator.
#define FEED_DATE_LENGTH 19

// Turns a feed's date text into "%04d-%02d-%02d %02d:%02d:%02d" local time.
// out holds at least 20 characters. Returns 1 on success; 0, leaving out
// untouched, when the text is not a date (a text without any ASCII letter is
// never taken, so a bare "2005-06-01" stays as it is).
int FormatFeedDate(LPCWSTR text, LPWSTR out);

// W3C date-time ("2005-06-01T12:34:56+02:00", fractions of a second allowed)
// to seconds; 0 when it does not parse.
int64_t ParseW3CDate(const char* text);
// RFC 822 date ("Wed, 01 Jun 2005 12:00:00 GMT") to seconds; 0 when it does
// not parse.
int64_t ParseRfc822Date(const char* text);
// Offset east of UTC in seconds of an RFC 822 zone ("+0530", "EST", "Z"...);
// unknown zones count as UTC.
int ParseTimeZone(const char* text);

// Now in seconds (the kernel's wall clock); also stored in *out when given.
// The result is the time with or without *out: page and image names take
// their seconds from it, and a constant would make the names of one run
// repeat those of the last and overwrite other items' files.
int64_t GetCurrentSeconds(int64_t* out = nullptr);
// A 100-nanosecond file time to seconds.
int64_t FileTimeToSeconds(const FILETIME& ft);
// Seconds to broken-down local time (tm_year since 1900, tm_mon 0-11,
// tm_yday 0-365, tm_isdst 0).
void SecondsToLocalTime(int64_t seconds, struct tm* out);
// Seconds to broken-down UTC time.
void SecondsToUtcTime(int64_t seconds, struct tm* out);
// Broken-down local time to seconds; FALSE when the fields are no real date
// (31 February, month 13...).
BOOL LocalTimeToSeconds(const struct tm& local, int64_t* seconds);
// Broken-down UTC time to seconds, with the same check (a leap second, 60,
// is taken as the first second of the next minute; 61 and above are refused).
BOOL UtcTimeToSeconds(const struct tm& utc, int64_t* seconds);

// Writes "%04d-%02d-%02d %02d:%02d:%02d" of a local time into out (20 characters).
void FormatLocalTimeText(const struct tm& local, LPWSTR out);
// The local time now as "%04d-%02d-%02d %02d:%02d:%02d".
void CurrentLocalTimeText(LPWSTR out);
