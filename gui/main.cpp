#include <QApplication>

#include "gui/idle_hook.h"
#include "gui/main_dialog.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brelin"));
  QApplication::setDesktopFileName(QStringLiteral("brelin"));
  brelin::gui::InstallGuiIdleHook();

  brelin::gui::MainDialog window;
  window.exec();
  // Escape or the close box end the program normally; the Close button exits with status 1.
  return 0;
}
