#include "device/sequences.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "device/command.h"
#include "report/analysis.h"
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

// The sequence's own Port, closed however the sequence ends (an analysis error included).
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

bool DownloadMemory(app::MainModel& model, int portIndex, const DownloadOptions& options) {
  std::vector<std::uint8_t> buffer(kWorkBufferSize);
  model.AppendStatus("Opening communication port.\r\n");
  OpenedPort port(portIndex);
  ClearLine(*port);
  if (!Unlock(*port)) {
    model.ShowMessage(kNoResponse);
    return false;
  }
  model.SetProgress(10);
  serial::Pause(500);

  serial::WriteString(*port, kDownloadCommand, kCommandTerminator);
  std::size_t received = ReadReply(*port, buffer, kDownloadReplySize, kBlockReplyTimeoutMs);
  if (DownloadRefused(buffer.data(), received)) {
    model.ShowMessage(kDownloadRefused);
    SendCommand(*port, kLockCommand, kCommandTerminator);
    model.SetProgress(0);
    serial::Pause(50);
    return false;
  }
  model.AppendStatus("Downloading data from KLV480.\r\n");
  ScanDownloadReply(model.deviceInfo, buffer.data(), received);

  const std::int32_t noOptions[] = {xfer::kOptEnd};
  const int result = xfer::XferReceive(*port, options.imagePath.c_str(), {}, {}, noOptions);
  if (result < 0) {
    char message[64];
    std::snprintf(message, sizeof message, kTransferFailed, result);
    model.ShowMessage(message);
    return false;
  }

  SendCommand(*port, kEmptyCommand, kCommandTerminator);
  model.SetProgress(30);
  serial::Pause(1000);
  ClearLine(*port);
  model.AppendStatus("Obtaining KLV480 system info.\r\n");
  serial::WriteString(*port, kSystemCommand, kCommandTerminator);
  received = ReadReply(*port, buffer, kSystemReplySize, kSystemReplyTimeoutMs);
  ParseSystemInfo(model.deviceInfo, buffer.data(), received);
  ClearLine(*port);
  SendCommand(*port, kLockCommand, kCommandTerminator);
  model.SetProgress(50);
  serial::Pause(150);

  if (options.serialNumber) model.deviceInfo.serialNumber = *options.serialNumber;
  report::AnalyseImage(model, options.imagePath);
  model.AppendStatus(kDone);
  return true;
}

bool EraseMemory(app::MainModel& model, int portIndex) {
  std::vector<std::uint8_t> buffer(kWorkBufferSize);
  model.AppendStatus("Opening communication port.\r\n");
  model.SetProgress(5);
  OpenedPort port(portIndex);
  ClearLine(*port);
  model.SetProgress(10);
  if (!Unlock(*port)) {
    model.ShowMessage(kNoResponse);
    return false;
  }
  model.AppendStatus("Erasing data in the KLV480.\r\n");
  serial::WriteString(*port, kEraseCommand, kCommandTerminator);
  ReadReply(*port, buffer, kEraseReplySize, kBlockReplyTimeoutMs);  // not examined

  // The instrument takes about ten seconds to erase; show it going.
  for (int i = 0; i < 100; ++i) {
    serial::Pause(100);
    model.SetProgress(10 + (9 * i) / 10);
  }
  ClearLine(*port);
  SendCommand(*port, kLockCommand, kCommandTerminator);
  model.SetProgress(100);
  serial::Pause(150);
  model.AppendStatus(kDone);
  return true;
}

}  // namespace brelin::device
