#include "device/sequences.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "device/command.h"
#include "serial/clock.h"
#include "serial/port.h"
#include "serial/timed_io.h"
#include "xfer/xfer.h"

namespace brelin::device {
namespace {

constexpr char kNoResponse[] = "No response of KLV480";
constexpr char kDownloadRefused[] = "No download allowed !!!\n";
constexpr char kDone[] = "Done.";

constexpr unsigned kDownloadReplySize = 15;
constexpr unsigned kSystemReplySize = 350;
constexpr unsigned kEraseReplySize = 15;
constexpr int kBlockReplyTimeoutMs = 1000;
constexpr int kSystemReplyTimeoutMs = 500;

// Fixed pauses that give the instrument time to act on what it was just sent.
constexpr int kAfterUnlockMs = 500;
constexpr int kAfterRefusalMs = 50;
constexpr int kAfterTransferMs = 1000;
constexpr int kAfterLockMs = 150;

// Progress bar positions. The download stops at kLockedProgress; the analysis goes on from there.
constexpr int kRefusedProgress = 0;
constexpr int kOpeningProgress = 5;   // erase only
constexpr int kStartedProgress = 10;  // the instrument is being talked to
constexpr int kTransferredProgress = 30;
constexpr int kLockedProgress = 50;
constexpr int kErasedProgress = 100;

// The erase takes the instrument about ten seconds: the bar moves from 10 to 99 meanwhile.
constexpr int kEraseSteps = 100;
constexpr int kEraseStepMs = 100;

// The sequence's own Port, closed however the sequence ends.
class OpenedPort {
 public:
  explicit OpenedPort(int portIndex)
      : port_(serial::OpenPort(portIndex, kBaudRate, kParity, kDataBits, kStopBits)) {}
  ~OpenedPort() { port_->Close(); }
  OpenedPort(const OpenedPort&) = delete;
  OpenedPort& operator=(const OpenedPort&) = delete;
  serial::Port& operator*() const { return *port_; }

 private:
  serial::Port* port_;
};

// Discards what waits to be sent and what has been received so far.
void ClearLine(serial::Port& port) {
  port.ClearTx();
  serial::DrainInput(port);
}

// Reads a block reply into the start of buffer; returns how many bytes came.
std::size_t ReadReply(serial::Port& port, std::vector<std::uint8_t>& buffer, unsigned size,
                      int timeout) {
  std::fill(buffer.begin(), buffer.end(), 0);
  serial::ReadBlock(port, buffer.data(), size, timeout);
  return std::min<std::size_t>(port.count, size);
}

bool Unlock(serial::Port& port) {
  const std::string reply = SendCommand(port, kUnlockCommand, kCommandTerminator);
  return port.status >= 0 && ReplyAccepted(reply);
}

// Locks the instrument again whatever failed before: a failure left in the status word would keep
// the command's line end from being sent. When the operator is stopping, nobody waits for the
// reply (a dead or silent line must not hold the exit up).
void Lock(serial::Port& port, SequenceListener& listener) {
  port.ClearError();
  ClearLine(port);
  if (listener.StopRequested()) {
    serial::WriteString(port, kLockCommand, kCommandTerminator);
  } else {
    SendCommand(port, kLockCommand, kCommandTerminator);
  }
}

const char* TransferMeaning(int code) {
  switch (code) {
    case xfer::kXferNoBuffer:
      return "out of memory";
    case xfer::kXferRequestFailed:
    case xfer::kXferAckFailed:
    case xfer::kXferSendBufferFailed:
    case xfer::kXferSendCharFailed:
      return "the serial line does not take data (flow control held?)";
    case xfer::kXferUserAbort:
      return "interrupted";
    case xfer::kXferCancelled:
      return "the instrument cancelled";
    case xfer::kXferNoHeader:
      return "the instrument did not send (10 waits)";
    case xfer::kXferTooManyRetries:
      return "too many damaged blocks (10 tries of one block)";
    case xfer::kXferBadHeader:
      return "the instrument sent something other than a block";
    case xfer::kXferCarrierLost:
      return "the carrier went away";
    case serial::kNoDevice:
      return "the serial line went away (adapter unplugged?)";
    default:
      return "";
  }
}

}  // namespace

std::string TransferFailureText(int code, const std::string& imagePath, int fileError,
                                std::int64_t bytesStored) {
  std::string text = "Error in file transfer " + std::to_string(code);
  if (code == xfer::kXferOpenFailed || code == xfer::kXferWriteFailed) {
    text += ": the memory image file could not be written: " + imagePath + ": " +
            std::strerror(fileError != 0 ? fileError : EIO);
  } else if (const std::string_view meaning = TransferMeaning(code); !meaning.empty()) {
    text += ": ";
    text += meaning;
  }
  if (bytesStored > 0) {
    text += "\nThe " + std::to_string(bytesStored) + " bytes received are kept in " + imagePath;
  }
  return text;
}

bool DownloadMemory(SequenceListener& listener, DeviceInfo& info, int portIndex,
                    const std::string& imagePath) {
  std::vector<std::uint8_t> buffer(kWorkBufferSize);
  listener.AppendStatus("Opening communication port.\r\n");
  OpenedPort port(portIndex);
  if ((*port).status < 0) {  // why, rather than an UNLOCK into a Port that never opened
    listener.ShowMessage(serial::OpenFailureText(*port));
    return false;
  }
  ClearLine(*port);
  if (!Unlock(*port)) {
    if (!listener.StopRequested()) listener.ShowMessage(kNoResponse);
    return false;
  }
  listener.SetProgress(kStartedProgress);
  serial::Pause(kAfterUnlockMs);
  if (listener.StopRequested()) {
    Lock(*port, listener);
    return false;
  }

  serial::WriteString(*port, kDownloadCommand, kCommandTerminator);
  std::size_t received = ReadReply(*port, buffer, kDownloadReplySize, kBlockReplyTimeoutMs);
  if (DownloadRefused(buffer.data(), received)) {
    listener.ShowMessage(kDownloadRefused);
    SendCommand(*port, kLockCommand, kCommandTerminator);
    listener.SetProgress(kRefusedProgress);
    serial::Pause(kAfterRefusalMs);
    return false;
  }
  listener.AppendStatus("Downloading data from KLV480.\r\n");
  ScanDownloadReply(info, buffer.data(), received);

  const std::int32_t noOptions[] = {xfer::kOptEnd};
  const std::uint32_t start = serial::TickCount();
  TransferProgress shown{.bytes = -1};
  const auto passCheck = [&](xfer::XferView& run) {
    if (listener.StopRequested()) run.status = xfer::kXferUserAbort;
    const TransferProgress now{.bytes = std::max<std::int64_t>(run.bytesStored, 0),
                               .milliseconds = serial::TickCount() - start,
                               .retries = run.errorCount};
    if (now.bytes != shown.bytes || now.retries != shown.retries) {
      shown = now;
      listener.ShowTransfer(now);
    }
  };
  xfer::XferView outcome;
  const int result =
      xfer::XferReceive(*port, imagePath.c_str(), {}, passCheck, noOptions, &outcome);
  if (result < 0) {
    // The receiver has sent its cancel sequence; the instrument is still unlocked.
    if (!listener.StopRequested()) {
      listener.ShowMessage(
          TransferFailureText(result, imagePath, outcome.fileError, outcome.bytesStored));
    }
    Lock(*port, listener);
    return false;
  }
  // The transfer recovered from whatever failed on the way: a failure left in the status word
  // would keep the line ends of the commands that follow from being sent.
  (*port).ClearError();

  SendCommand(*port, kEmptyCommand, kCommandTerminator);
  listener.SetProgress(kTransferredProgress);
  serial::Pause(kAfterTransferMs);
  ClearLine(*port);
  listener.AppendStatus("Obtaining KLV480 system info.\r\n");
  serial::WriteString(*port, kSystemCommand, kCommandTerminator);
  received = ReadReply(*port, buffer, kSystemReplySize, kSystemReplyTimeoutMs);
  ParseSystemInfo(info, buffer.data(), received);
  Lock(*port, listener);
  if (listener.StopRequested()) return false;
  listener.SetProgress(kLockedProgress);
  serial::Pause(kAfterLockMs);
  return true;
}

bool EraseMemory(SequenceListener& listener, int portIndex) {
  std::vector<std::uint8_t> buffer(kWorkBufferSize);
  listener.AppendStatus("Opening communication port.\r\n");
  listener.SetProgress(kOpeningProgress);
  OpenedPort port(portIndex);
  if ((*port).status < 0) {
    listener.ShowMessage(serial::OpenFailureText(*port));
    return false;
  }
  ClearLine(*port);
  listener.SetProgress(kStartedProgress);
  if (!Unlock(*port)) {
    listener.ShowMessage(kNoResponse);
    return false;
  }
  if (listener.StopRequested()) {
    Lock(*port, listener);
    return false;
  }
  listener.AppendStatus("Erasing data in the KLV480.\r\n");
  serial::WriteString(*port, kEraseCommand, kCommandTerminator);
  ReadReply(*port, buffer, kEraseReplySize, kBlockReplyTimeoutMs);  // not examined

  // The instrument erases whatever happens here; a stop only cuts the wait short.
  for (int i = 0; i < kEraseSteps && !listener.StopRequested(); ++i) {
    serial::Pause(kEraseStepMs);
    listener.SetProgress(kStartedProgress + (9 * i) / 10);  // 10 to 99, some twice
  }
  Lock(*port, listener);
  if (listener.StopRequested()) return false;
  listener.SetProgress(kErasedProgress);
  serial::Pause(kAfterLockMs);
  listener.AppendStatus(kDone);
  return true;
}

}  // namespace brelin::device
