// Critical sections, events, mutexes, semaphores, threads and waits.
// Named events, mutexes and semaphores are visible to every process on the
// same device root. A named mutex whose owning process ends without
// releasing it goes to the next waiter with WAIT_ABANDONED.
#pragma once

#include "kernel/types.h"

struct CRITICAL_SECTION {
  void* impl;  // a recursive mutex
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);

LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 0x00000103u
#define MAXIMUM_WAIT_OBJECTS 64

#ifndef ERROR_NOT_OWNER
#define ERROR_NOT_OWNER 288L
#endif
#ifndef ERROR_TOO_MANY_POSTS
#define ERROR_TOO_MANY_POSTS 298L
#endif

#define EVENT_PULSE 1
#define EVENT_RESET 2
#define EVENT_SET 3

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState, LPCWSTR name);
HANDLE OpenEventW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL PulseEvent(HANDLE event);
BOOL EventModify(HANDLE event, DWORD func);
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES sa, LONG initial, LONG maximum, LPCWSTR name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG count, LPLONG previous);

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID param);
#define CREATE_SUSPENDED 0x00000004
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_TIME_CRITICAL 15
HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD threadId);
DWORD ResumeThread(HANDLE thread);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD code);
BOOL TerminateThread(HANDLE thread, DWORD code);
DWORD GetCurrentThreadId();
HANDLE GetCurrentThread();
DWORD GetCurrentProcessId();
HANDLE GetCurrentProcess();
void ExitThread(DWORD code);

// Waits use the host's monotonic clock, not the test clock of kernel/time.h.
// A waiting thread sleeps in the host kernel until an object it waits on
// changes (in whichever process) or its time-out is due.
DWORD WaitForSingleObject(HANDLE handle, DWORD ms);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
