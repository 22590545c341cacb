#pragma once

#include <windows.h>

namespace brelin::serial {

// The Win32 calls of the COM port driver whose results it acts on, or whose arguments decide how
// the device behaves, go through this table, so tests can produce what a pseudo-terminal under
// Wine never does (a busy transmit queue, writes held by the line, reads left pending, line errors,
// modem lines, an arrival wait that is accepted), see what the driver asked for (open flags,
// settings, timeouts, purges, breaks, waits, cancels, handles made and closed) and then forward to
// the real call.
struct WinCalls {
  HANDLE(WINAPI* CreateFileA)
  (LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
   DWORD flags, HANDLE templateFile);
  BOOL(WINAPI* CloseHandle)(HANDLE handle);
  HANDLE(WINAPI* CreateEventA)
  (LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name);
  BOOL(WINAPI* ClearCommError)(HANDLE handle, LPDWORD errors, LPCOMSTAT stat);
  BOOL(WINAPI* ReadFile)
  (HANDLE handle, LPVOID buffer, DWORD n, LPDWORD got, LPOVERLAPPED overlapped);
  BOOL(WINAPI* WriteFile)
  (HANDLE handle, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED overlapped);
  BOOL(WINAPI* GetOverlappedResult)(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD n, BOOL wait);
  BOOL(WINAPI* GetCommState)(HANDLE handle, LPDCB dcb);
  BOOL(WINAPI* SetCommState)(HANDLE handle, LPDCB dcb);
  BOOL(WINAPI* SetCommTimeouts)(HANDLE handle, LPCOMMTIMEOUTS timeouts);
  BOOL(WINAPI* PurgeComm)(HANDLE handle, DWORD flags);
  BOOL(WINAPI* GetCommModemStatus)(HANDLE handle, LPDWORD bits);
  BOOL(WINAPI* EscapeCommFunction)(HANDLE handle, DWORD function);
  BOOL(WINAPI* SetCommMask)(HANDLE handle, DWORD mask);
  BOOL(WINAPI* WaitCommEvent)(HANDLE handle, LPDWORD mask, LPOVERLAPPED overlapped);
  BOOL(WINAPI* SetCommBreak)(HANDLE handle);
  BOOL(WINAPI* ClearCommBreak)(HANDLE handle);
  BOOL(WINAPI* CancelIo)(HANDLE handle);
  DWORD(WINAPI* WaitForMultipleObjects)
  (DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs);
};

// The table in use; starts with the real calls.
WinCalls& WinSys();
const WinCalls& RealWinCalls();

}  // namespace brelin::serial
