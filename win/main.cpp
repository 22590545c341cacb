// brelin.exe: the desktop program on Windows.
#include <windows.h>

#include <cstring>

#include "win/idle_hook.h"
#include "win/main_window.h"

namespace {

// Answers on standard output when the caller gave the program one (a console or a pipe): a
// program of the GUI subsystem has no console of its own.
void Print(const char* text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    WriteFile(out, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int show) {
  if (std::strcmp(commandLine, "--version") == 0) {
    Print("brelin " BRELIN_VERSION "\n");
    return 0;
  }
  if (std::strcmp(commandLine, "--help") == 0) {
    Print(
        "Usage: brelin [--help | --version]\n"
        "Downloads the memory of a KLV480 instrument over a serial line and writes its report.\n");
    return 0;
  }
  brelin::win::InstallWindowIdleHook();
  brelin::win::MainWindow window;
  if (window.Create() == nullptr) return 1;
  ShowWindow(window.hwnd(), show);
  // Escape and the close box end the program normally; the Close button with exit status 1.
  return brelin::win::RunMessageLoop();
}
