// Session set-up, local file, abort check and messages of a transfer run.

#include <cerrno>
#include <cstdarg>
#include <new>

#include "xfer/xfer_internal.h"

namespace brelin::xfer {

namespace {

FileOpenHookFn fileOpenHook = StdFileOpen;
AbortHookFn abortHook = CarrierLostHook;

}  // namespace

XferSession::~XferSession() {
  if (file) std::fclose(file);
}

FileOpenHookFn FileOpenHook() {
  return fileOpenHook;
}
void SetFileOpenHook(FileOpenHookFn hook) {
  fileOpenHook = hook ? hook : StdFileOpen;
}
AbortHookFn AbortHook() {
  return abortHook;
}
void SetAbortHook(AbortHookFn hook) {
  abortHook = hook ? hook : CarrierLostHook;
}

std::FILE* StdFileOpen(const XferView&, const char* name, const char* mode) {
  return std::fopen(name, mode);
}

int CarrierLostHook(const XferView& s) {
  if (s.carrierWatch && serial::CarrierDetect(*s.port) == 0) return kXferCarrierLost;
  return 0;
}

void XferMessage(XferSession& s, const char* format, ...) {
  if (!s.messageSink) return;
  char text[kXferMessageSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  s.messageSink(text);
}

bool XferAbortCheck(XferSession& s) {
  if (s.passCallback) s.passCallback(s);
  if (s.status == kXferUserAbort) return true;
  if (s.status < 0) return false;  // a failure is already being handled
  int code = abortHook(s);
  // A positive code would reach the caller as a success; an abort is a failure.
  if (code > 0) code = kXferUserAbort;
  if (code == 0 && s.carrierWatch && serial::CarrierDetect(*s.port) == 0) code = kXferCarrierLost;
  if (code == 0) return false;
  s.status = code;
  XferMessage(s, "Transfer aborted...");
  return true;
}

bool XferInit(XferSession& s) {
  s.status = 0;
  s.errorCount = 0;
  s.retryCount = 0;
  s.file = nullptr;
  s.receivedBlock = -1;
  s.blockLength = -1;
  s.blockNumber = 1;
  s.bytesStored = -1;
  s.fileError = 0;
  s.buffer.reset(new (std::nothrow) std::uint8_t[kXferBufferSize]());
  if (!s.buffer) {
    XferMessage(s, "Failed to allocate XFER buffer(s)");
    s.status = kXferNoBuffer;
    return false;
  }
  s.header = -1;
  s.port->ClearError();
  return !XferAbortCheck(s);
}

bool XferOpenFile(XferSession& s) {
  s.bytesStored = 0;
  XferMessage(s, "Opening file %s", s.localName);
  errno = 0;
  s.file = fileOpenHook(s, s.localName, "wb");
  if (!s.file) {
    s.status = kXferOpenFailed;
    s.fileError = errno != 0 ? errno : EIO;
    XferMessage(s, "Failed to open file");
    return false;
  }
  ++s.filesReceived;
  return !XferAbortCheck(s);
}

}  // namespace brelin::xfer
