#pragma once

#include <cstdint>
#include <string>

#include "app/main_model.h"
#include "device/sequences.h"
#include "report/value_format.h"

namespace brelin::app {

struct GetDataOptions {
  std::string imagePath = device::kImageFileName;  // written by the transfer, read by the analysis
};

// Where a window keeps the memory image of a download: KLV480.bin in the report's folder, so that a
// program started from a desktop menu does not leave it in the home folder.
std::string ImageBesideReport(const std::string& reportPath);

// The report choices the model shows now.
report::ReportOptions ChosenReportOptions(const MainModel& model);

// Decodes the memory image at imagePath into model.pointTable and writes the report the model's
// choices select, for the instrument in model.deviceInfo; model.analysisSummary says what it found.
// Throws report::FileError when the image cannot be read or the report cannot be written.
void AnalyseCommand(MainModel& model, const std::string& imagePath);

// Open a saved memory image: checks that an output file is chosen ("There is no output File name
// selected " otherwise, returning false), analyses the image as AnalyseCommand does for no
// particular instrument (serial number 0) and ends with "Done.". Throws report::FileError.
bool OpenImageCommand(MainModel& model, const std::string& imagePath);

// The figures of a transfer so far: "24.0 KiB, 0.94 KiB/s, 1 retry".
std::string TransferText(const device::TransferProgress& progress);

// One line on what an analysis found: "300 records read: 812 readings of 250 points in the report."
std::string SummaryText(const report::AnalysisSummary& summary);
// Why the image may not be what the operator expects, or "" when nothing is odd about it.
std::string SummaryWarning(const report::AnalysisSummary& summary);

// Get Data: checks that an output file is chosen and can be written (a missing one is created
// empty; an existing report is left as it is until the new one replaces it; with a
// model.reportStream only that a name is given), runs the download
// into "<image>.part", puts the complete image in place of the previous one and analyses it,
// adds its readings to the history (ImportIntoHistory), ending with "Done.". Returns true then;
// false when no file is chosen ("There is no output File name selected "), the download failed (its
// message shown; the previous image stays, the blocks received stay in the .part file) or a stop
// was requested. Throws report::FileError when the report or the image cannot be written (before
// the instrument is contacted when the name is not a regular file or cannot be created) or the
// analysis fails; the Port is closed by then.
bool GetDataCommand(MainModel& model, const GetDataOptions& options = {});

// Adds the measurement records of the image at `imagePath` to the history at model.historyPath
// (nothing when it is empty) as readings of the instrument model.deviceInfo names, and says how
// it went in model.historyResult. Never throws: a history that cannot be written, or an
// instrument without a serial number, is a warning there, and the command that called it stands.
void ImportIntoHistory(MainModel& model, const std::string& imagePath);

// One line on an import: "12 of 300 readings new in the history /path/history.sqlite3."
std::string HistoryText(const HistoryResult& result);

// What ERASE asks before anything is sent to the instrument.
inline constexpr char kEraseQuestion[] =
    "Erase all measurements stored in the KLV480? This cannot be undone.";

// ERASE: runs the erase sequence on the chosen port, without asking. Returns its result.
bool EraseCommand(MainModel& model);

}  // namespace brelin::app
