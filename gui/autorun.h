#pragma once

#include <QString>

namespace brelin::gui {

class MainDialog;

// Drives the window without an operator (scripts/screenshot.sh): chooses the port by its device
// path and the output file, clicks Get Data once the window shows, saves a picture of the window
// to screenshotPath when the command has ended, and closes the window. Messages go to stderr
// instead of boxes. The window's exec() then returns 1 if a message was shown, else 0.
void ScheduleAutorun(MainDialog& window, const QString& portPath, const QString& outputPath,
                     const QString& screenshotPath);

}  // namespace brelin::gui
