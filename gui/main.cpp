#include <QApplication>
#include <cstring>

#include "gui/autorun.h"
#include "gui/idle_hook.h"
#include "gui/main_dialog.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brelin"));
  QApplication::setOrganizationName(QStringLiteral("Brelin"));
  QApplication::setDesktopFileName(QStringLiteral("brelin"));
  brelin::gui::InstallGuiIdleHook();

  brelin::gui::MainDialog window;
  window.RestoreSettings();
  // Not for operators: brelin --autorun PORT OUTPUT SCREENSHOT (see scripts/screenshot.sh).
  if (argc == 5 && std::strcmp(argv[1], "--autorun") == 0) {
    brelin::gui::ScheduleAutorun(window, QString::fromLocal8Bit(argv[2]),
                                 QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    return window.exec();
  }
  window.exec();
  // Escape or the close box end the program normally; the Close button exits with status 1.
  return 0;
}
