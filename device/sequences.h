#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/device_info.h"

namespace brelin::device {

// Where the download stores the memory image unless told otherwise: the working directory.
inline constexpr char kImageFileName[] = "KLV480.bin";

inline constexpr int kBaudRate = 9600;
inline constexpr int kParity = 'N';
inline constexpr int kDataBits = 8;
inline constexpr int kStopBits = 1;
inline constexpr std::size_t kWorkBufferSize = 500;

// How far a transfer has come.
struct TransferProgress {
  std::int64_t bytes = 0;          // stored so far
  std::uint32_t milliseconds = 0;  // since the transfer started
  int retries = 0;                 // damaged or missing blocks asked for again, timeouts
};

// What a sequence tells the operator: status lines, the progress bar, and the failure that ends it.
class SequenceListener {
 public:
  // Appends text to the status log. Lines end with "\r\n"; the closing "Done." has none.
  virtual void AppendStatus(std::string_view text) = 0;
  // Moves the progress bar to position 0..100.
  virtual void SetProgress(int position) = 0;
  // The failure that ends the sequence, in the system's own words.
  virtual void ShowMessage(std::string_view text) = 0;
  // True once the operator has asked to stop (an interrupt, the window closing). The sequence then
  // ends at its next step: a transfer with its cancel sequence, an unlocked instrument with LOCK.
  virtual bool StopRequested() { return false; }
  // During the transfer, at least once per block. The size of the image is not known before it
  // has arrived, so there is no percentage.
  virtual void ShowTransfer(const TransferProgress& /*progress*/) {}

 protected:
  ~SequenceListener() = default;
};

// Fetches the instrument's memory into the file at imagePath, reads its serial and PCB numbers
// into `info` and locks it again. Status lines, progress and failures go to the listener. Returns
// true when the instrument is locked again after a complete transfer (the caller then analyses
// the image and ends with "Done."); false after it showed why the port did not open
// (serial::OpenFailureText, nothing sent), "No response of KLV480" (the port opened, UNLOCK was
// not answered), "No download allowed !!!\n" or a TransferFailureText, or when a stop was
// requested (nothing shown). Once UNLOCK is accepted, every path sends LOCK. The Port is closed
// on every path.
bool DownloadMemory(SequenceListener& listener, DeviceInfo& info, int portIndex,
                    const std::string& imagePath = kImageFileName);

// "Error in file transfer <code>: <what it means>", and where the blocks received so far are.
std::string TransferFailureText(int code, const std::string& imagePath, int fileError,
                                std::int64_t bytesStored);

// Unlocks the instrument, sends the erase command, shows the erase running for ten seconds and
// locks it again. Returns true when it ran to "Done."; false after serial::OpenFailureText or "No
// response of KLV480", or when a stop was requested (LOCK sent if UNLOCK was accepted).
bool EraseMemory(SequenceListener& listener, int portIndex);

}  // namespace brelin::device
