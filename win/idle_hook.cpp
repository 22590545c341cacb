#include "win/idle_hook.h"

#include "serial/timed_io.h"

namespace brelin::win {
namespace {

// Longest sleep of one pass: bounds how late a timeout of the serial layer is noticed.
constexpr DWORD kSliceMs = 10;

bool IsDialog(HWND window) {
  return GetClassLongPtrW(window, GCW_ATOM) == reinterpret_cast<ULONG_PTR>(WC_DIALOG);
}

}  // namespace

void DispatchMessageOf(MSG& message) {
  HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
  if (root != nullptr && IsDialog(root) && IsDialogMessageW(root, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

void DispatchPending() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    DispatchMessageOf(message);
  }
}

int WindowIdleHook(serial::Port& port) {
  // The arrival event fires for every character: a line that is delivering would wake the window
  // a thousand times a second at 9600 baud (under Wine a third of a core), when a slice's worth is
  // read at once anyway. So the event is waited on only while the line is quiet; once it fired, or
  // a slice ended with input queued, passes sleep their slice until one ends with nothing queued.
  static bool lineBusy = false;
  DispatchPending();
  // Input already queued belongs to a caller that is not reading now: the event would not wait.
  HANDLE event = !lineBusy && port.RxUsed() == 0 ? serial::PortArrivalEvent(port) : nullptr;
  const DWORD woke =
      MsgWaitForMultipleObjectsEx(event != nullptr ? 1 : 0, event != nullptr ? &event : nullptr,
                                  kSliceMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  lineBusy = event != nullptr ? woke == WAIT_OBJECT_0 : port.RxUsed() > 0;
  return 0;
}

void InstallWindowIdleHook() {
  serial::SetIdleHook(WindowIdleHook);
}

int RunMessageLoop() {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageOf(message);
  return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 1;
}

}  // namespace brelin::win
