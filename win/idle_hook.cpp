#include "win/idle_hook.h"

#include "serial/timed_io.h"

namespace brelin::win {
namespace {

// Longest sleep of one pass: bounds how late a timeout of the serial layer is noticed.
constexpr DWORD kSliceMs = 10;
// Slices that must end with nothing queued before a pass waits on the arrival event: longer than
// the pause between two blocks of a transfer, so a streaming line never arms it.
constexpr int kQuietSlices = 3;

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
  // The arrival event fires for every character, and under Wine a pending WaitCommEvent is dear:
  // armed in every pause of a paced transfer it doubles the window's CPU share for no gain in wall
  // time. So it is waited on only once the line has been quiet for a few slices (a reply that is
  // awaited); a line that is delivering is read a slice's worth at a time.
  static int quietSlices = 0;
  DispatchPending();
  // Input already queued belongs to a caller that is not reading now: the event would not wait.
  HANDLE event =
      quietSlices >= kQuietSlices && port.RxUsed() == 0 ? serial::PortArrivalEvent(port) : nullptr;
  MsgWaitForMultipleObjectsEx(event != nullptr ? 1 : 0, event != nullptr ? &event : nullptr,
                              kSliceMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  // What the event or the slice brought is queued now; an event handed out once more after it
  // fired earlier ends the wait with nothing queued, and the next pass arms it again.
  quietSlices = port.RxUsed() > 0 ? 0 : quietSlices + 1;
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
