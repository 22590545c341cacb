#pragma once

#include <QString>

namespace brelin::gui {

class MainDialog;

// Drives the window without an operator (scripts/screenshot.sh): chooses the port by its device
// path and the output file, clicks Get Data once the window shows, saves a picture of the window
// to screenshotPath when the command has ended, and closes the window. Messages go to stderr
// instead of boxes. The window's exec() then returns 1 if a message was shown, else 0. With a
// `point` from 0, its first reading is selected before the picture, so that its trend shows.
void ScheduleAutorun(MainDialog& window, const QString& portPath, const QString& outputPath,
                     const QString& screenshotPath, int point = -1);

}  // namespace brelin::gui
