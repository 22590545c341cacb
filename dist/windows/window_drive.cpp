// Drives a running brelin.exe from outside, as an operator would, for the scripts that test,
// measure and photograph it under Wine (scripts/wine-tests.sh, scripts/screenshot-windows.sh,
// bench/wine-window.sh). The window is found by its title "Brelin" and its Get Data button.
//   window_drive find MS           waits up to MS milliseconds for the window
//   window_drive click ID          clicks the button ID (posted: Get Data runs inside the click)
//   window_drive wait-done MS      waits up to MS milliseconds for "Done." at the end of the log
//   window_drive rect              prints the window's left, top, width and height
//   window_drive ping N MS         N round trips of WM_NULL, one every MS milliseconds: prints
//                                  the median and the longest in milliseconds
//   window_drive close             asks the window to close (WM_CLOSE)
// Exit status 0 on success, 1 when the window is not there or does not answer, 2 on usage.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "win/resource.h"

namespace {

// A reply slower than this counts as no reply: the window hangs.
constexpr UINT kReplyTimeoutMs = 5000;

BOOL CALLBACK FindMain(HWND hwnd, LPARAM found) {
  wchar_t title[16] = {};
  GetWindowTextW(hwnd, title, 16);
  if (std::wcscmp(title, L"Brelin") == 0 && GetDlgItem(hwnd, IDC_GET_DATA) != nullptr) {
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND MainWindow() {
  HWND found = nullptr;
  EnumWindows(FindMain, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Polls `ready` every 50 ms until it holds or `ms` have passed.
template <typename Ready>
bool WaitFor(unsigned long ms, Ready ready) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!ready()) {
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
  return true;
}

// The text of a control of another process; WM_GETTEXT is marshalled for it.
bool ItemText(HWND hwnd, int id, std::wstring& text) {
  HWND item = GetDlgItem(hwnd, id);
  DWORD_PTR length = 0;
  if (item == nullptr || SendMessageTimeoutW(item, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                             kReplyTimeoutMs, &length) == 0) {
    return false;
  }
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (SendMessageTimeoutW(item, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                          SMTO_ABORTIFHUNG, kReplyTimeoutMs, &copied) == 0) {
    return false;
  }
  text.assign(buffer.data(), copied);
  return true;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int Ping(HWND hwnd, int count, unsigned long intervalMs) {
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> ms;
  for (int i = 0; i < count; ++i) {
    DWORD_PTR ignored = 0;
    QueryPerformanceCounter(&before);
    const bool answered =
        SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, kReplyTimeoutMs, &ignored) != 0;
    QueryPerformanceCounter(&after);
    if (!answered) {
      std::fprintf(stderr, "window_drive: no answer within %u ms\n", kReplyTimeoutMs);
      return 1;
    }
    ms.push_back(1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                 static_cast<double>(frequency.QuadPart));
    Sleep(intervalMs);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%.2f %.2f\n", ms[ms.size() / 2], ms.back());
  return 0;
}

int Usage() {
  std::fprintf(
      stderr, "Usage: window_drive find MS | click ID | wait-done MS | rect | ping N MS | close\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const unsigned long arg = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 0;
  if (command == "find") {
    return WaitFor(arg, [] { return MainWindow() != nullptr; }) ? 0 : 1;
  }
  HWND hwnd = MainWindow();
  if (hwnd == nullptr) {
    std::fprintf(stderr, "window_drive: no Brelin window\n");
    return 1;
  }
  if (command == "click" && argc == 3) {
    HWND button = GetDlgItem(hwnd, static_cast<int>(arg));
    if (button == nullptr) return 1;
    return PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(arg, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button))
               ? 0
               : 1;
  }
  if (command == "wait-done" && argc == 3) {
    std::wstring log;
    if (WaitFor(arg,
                [&] { return ItemText(hwnd, IDC_STATUS_LOG, log) && EndsWith(log, L"Done."); })) {
      return 0;
    }
    std::fprintf(stderr, "window_drive: no \"Done.\" after %lu ms; the log:\n%ls\n", arg,
                 log.c_str());
    return 1;
  }
  if (command == "rect" && argc == 2) {
    RECT rect;
    if (!GetWindowRect(hwnd, &rect)) return 1;
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
    return 0;
  }
  if (command == "ping" && argc == 4 && arg > 0) {
    return Ping(hwnd, static_cast<int>(arg), std::strtoul(argv[3], nullptr, 10));
  }
  if (command == "close" && argc == 2) {
    return PostMessageW(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  return Usage();
}
