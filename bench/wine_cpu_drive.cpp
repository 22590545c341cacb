// Drives a running brelin.exe from outside for bench/wine-cpu.sh, which compiles it with MinGW:
//   wine_cpu_drive find MS        waits up to MS milliseconds for the main window
//   wine_cpu_drive click ID       posts a click on the button ID (Get Data runs inside its click)
//   wine_cpu_drive wait-done MS   waits up to MS milliseconds for "Done." at the end of the log
//   wine_cpu_drive ping N MS      N round trips of WM_NULL, one every MS milliseconds; prints the
//                                 median and the longest in milliseconds
//   wine_cpu_drive close          posts WM_CLOSE
// Exit status 0 on success, 1 when the window is missing or does not answer, 2 on usage.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kGetData = 1003;    // IDC_GET_DATA
constexpr int kStatusLog = 1011;  // IDC_STATUS_LOG
constexpr UINT kHungMs = 5000;    // a slower answer counts as none

BOOL CALLBACK FindMain(HWND hwnd, LPARAM found) {
  wchar_t title[16] = {};
  GetWindowTextW(hwnd, title, 16);
  if (std::wstring(title) == L"Brelin" && GetDlgItem(hwnd, kGetData) != nullptr) {
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

template <typename Ready>
bool WaitFor(unsigned long ms, Ready ready) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!ready()) {
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
  return true;
}

bool LogEndsDone(HWND hwnd) {
  HWND log = GetDlgItem(hwnd, kStatusLog);
  DWORD_PTR length = 0;
  if (log == nullptr ||
      !SendMessageTimeoutW(log, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kHungMs, &length)) {
    return false;
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(log, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_NORMAL, kHungMs, &copied)) {
    return false;
  }
  text.resize(copied);
  return text.size() >= 5 && text.compare(text.size() - 5, 5, L"Done.") == 0;
}

int Ping(HWND hwnd, int count, DWORD intervalMs) {
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> ms;
  for (int i = 0; i < count; ++i) {
    DWORD_PTR ignored = 0;
    QueryPerformanceCounter(&before);
    if (!SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, kHungMs, &ignored)) return 1;
    QueryPerformanceCounter(&after);
    ms.push_back(1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                 static_cast<double>(frequency.QuadPart));
    Sleep(intervalMs);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%.2f %.2f\n", ms[ms.size() / 2], ms.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  const unsigned long arg = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 0;
  if (command == "find") return WaitFor(arg, [] { return MainWindow() != nullptr; }) ? 0 : 1;
  HWND hwnd = MainWindow();
  if (hwnd == nullptr) return 1;
  if (command == "click" && argc == 3) {
    HWND button = GetDlgItem(hwnd, static_cast<int>(arg));
    return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 1;
  }
  if (command == "wait-done" && argc == 3)
    return WaitFor(arg, [&] { return LogEndsDone(hwnd); }) ? 0 : 1;
  if (command == "ping" && argc == 4 && arg > 0) {
    return Ping(hwnd, static_cast<int>(arg), std::strtoul(argv[3], nullptr, 10));
  }
  if (command == "close" && argc == 2) return PostMessageW(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
  return 2;
}
