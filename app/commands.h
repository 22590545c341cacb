#pragma once

#include "app/main_model.h"
#include "device/sequences.h"

namespace brelin::app {

// Get Data: checks that an output file is chosen and can be written (a missing one is created
// empty; an existing report is left as it is until the new one replaces it), then runs the
// download. Returns the download's result; false also when no file is chosen ("There is no output
// File name selected "). Throws report::FileError when the output file cannot be written (before
// the instrument is contacted) or the analysis fails.
bool GetDataCommand(MainModel& model, const device::DownloadOptions& options = {});

// ERASE: runs the erase sequence on the chosen port, without asking. Returns its result.
bool EraseCommand(MainModel& model);

}  // namespace brelin::app
