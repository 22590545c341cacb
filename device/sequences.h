#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/main_model.h"

namespace brelin::device {

// Where the download stores the memory image unless told otherwise: the working directory.
inline constexpr char kImageFileName[] = "KLV480.bin";

inline constexpr int kBaudRate = 9600;
inline constexpr int kParity = 'N';
inline constexpr int kDataBits = 8;
inline constexpr int kStopBits = 1;
inline constexpr std::size_t kWorkBufferSize = 500;

struct DownloadOptions {
  std::string imagePath = kImageFileName;    // written by the transfer, read by the analysis
  std::optional<std::int32_t> serialNumber;  // replaces the instrument's in the report
};

// Fetches the instrument's memory into options.imagePath, reads its serial and PCB numbers,
// locks it and writes the report through the analysis. Status lines, progress and failures go to
// the model. Returns true when the sequence ran to "Done."; false after it showed "No response of
// KLV480", "No download allowed !!!\n" or "Error in file transfer <code>". A report::FileError of
// the analysis propagates; the Port is closed on every path.
bool DownloadMemory(app::MainModel& model, int portIndex, const DownloadOptions& options = {});

// Unlocks the instrument, sends the erase command, shows the erase running for ten seconds and
// locks it again. Returns true when it ran to "Done."; false after "No response of KLV480".
bool EraseMemory(app::MainModel& model, int portIndex);

}  // namespace brelin::device
