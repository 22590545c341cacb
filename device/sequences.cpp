#include "device/sequences.h"

#include <algorithm>
#include <cstdio>
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
constexpr char kTransferFailed[] = "Error in file transfer %i";
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

}  // namespace

bool DownloadMemory(SequenceListener& listener, DeviceInfo& info, int portIndex,
                    const std::string& imagePath) {
  std::vector<std::uint8_t> buffer(kWorkBufferSize);
  listener.AppendStatus("Opening communication port.\r\n");
  OpenedPort port(portIndex);
  ClearLine(*port);
  if (!Unlock(*port)) {
    listener.ShowMessage(kNoResponse);
    return false;
  }
  listener.SetProgress(kStartedProgress);
  serial::Pause(kAfterUnlockMs);

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
  const int result = xfer::XferReceive(*port, imagePath.c_str(), {}, {}, noOptions);
  if (result < 0) {
    char message[64];
    std::snprintf(message, sizeof message, kTransferFailed, result);
    listener.ShowMessage(message);
    return false;
  }

  SendCommand(*port, kEmptyCommand, kCommandTerminator);
  listener.SetProgress(kTransferredProgress);
  serial::Pause(kAfterTransferMs);
  ClearLine(*port);
  listener.AppendStatus("Obtaining KLV480 system info.\r\n");
  serial::WriteString(*port, kSystemCommand, kCommandTerminator);
  received = ReadReply(*port, buffer, kSystemReplySize, kSystemReplyTimeoutMs);
  ParseSystemInfo(info, buffer.data(), received);
  ClearLine(*port);
  SendCommand(*port, kLockCommand, kCommandTerminator);
  listener.SetProgress(kLockedProgress);
  serial::Pause(kAfterLockMs);
  return true;
}

bool EraseMemory(SequenceListener& listener, int portIndex) {
  std::vector<std::uint8_t> buffer(kWorkBufferSize);
  listener.AppendStatus("Opening communication port.\r\n");
  listener.SetProgress(kOpeningProgress);
  OpenedPort port(portIndex);
  ClearLine(*port);
  listener.SetProgress(kStartedProgress);
  if (!Unlock(*port)) {
    listener.ShowMessage(kNoResponse);
    return false;
  }
  listener.AppendStatus("Erasing data in the KLV480.\r\n");
  serial::WriteString(*port, kEraseCommand, kCommandTerminator);
  ReadReply(*port, buffer, kEraseReplySize, kBlockReplyTimeoutMs);  // not examined

  for (int i = 0; i < kEraseSteps; ++i) {
    serial::Pause(kEraseStepMs);
    listener.SetProgress(kStartedProgress + (9 * i) / 10);  // 10 to 99, some twice
  }
  ClearLine(*port);
  SendCommand(*port, kLockCommand, kCommandTerminator);
  listener.SetProgress(kErasedProgress);
  serial::Pause(kAfterLockMs);
  listener.AppendStatus(kDone);
  return true;
}

}  // namespace brelin::device
