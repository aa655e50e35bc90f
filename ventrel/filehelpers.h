// File and text helpers of the library (device paths, backslash separated).
#pragma once

#include <cstdio>

#include "framework/afx.h"

// Creates each folder along the path, from its first "\" to its last one.
BOOL CreateFolderPath(const CString& path);
// Removes folders upward from the folder of path while they differ from stop
// (ignoring case) and the removal succeeds.
void RemoveEmptyParents(const CString& path, const CString& stop);
// Cuts the text at its last "\"; FALSE when there is none.
BOOL StripLastPathPart(CString& path);
// Deletes the folder with everything in it.
BOOL DeleteFolderTree(const CString& folder);
BOOL FileExists(const CString& path);
BOOL IsFolder(const CString& path);
BOOL GetFileWriteTime(const CString& path, FILETIME& time);
// TRUE when the file's last-write time differs from the stored one (which it
// then replaces). A file that cannot be opened clears a non-zero stored time
// (TRUE) and leaves a zero one (FALSE).
BOOL UpdateFileWriteTime(const CString& path, FILETIME& stored);
int ReverseFindChar(LPCWSTR text, WCHAR ch);
// For every "*.lnk" of the folder and its sub-folders, writes a line
// "name|folder\name\n" as 8-bit text to the open file.
void ListShortcuts(const CString& folder, FILE* file);
void DeleteFileIfPresent(const char* path8);
// Copies at most size - 1 characters and a terminator.
void CopyTextBounded(LPCWSTR text, LPWSTR buffer, int size);
LPSTR WideToMultiByte(LPSTR dst, LPCWSTR src, int dstSize);
LPWSTR MultiByteToWide(LPWSTR dst, LPCSTR src, int dstSize);
// Seconds since 1970-01-01 00:00:00 of the system clock.
long long CurrentUnixTime();
