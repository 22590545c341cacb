#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gui/autorun.h"
#include "gui/idle_hook.h"
#include "gui/main_dialog.h"

int main(int argc, char** argv) {
  // Answered before Qt starts, so that they work without a display (man page generation).
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("brelin " BRELIN_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::puts(
        "Usage: brelin [--help | --version]\n"
        "Downloads the memory of a KLV480 instrument over a serial line and writes its report.\n"
        "\n"
        "Options:\n"
        "  --help     Print this help message and exit\n"
        "  --version  Display program version information and exit");
    return 0;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brelin"));
  QApplication::setOrganizationName(QStringLiteral("Brelin"));
  QApplication::setDesktopFileName(QStringLiteral("brelin"));
  brelin::gui::InstallGuiIdleHook();

  brelin::gui::MainDialog window;
  window.RestoreSettings();
  // Not for operators: brelin --autorun PORT OUTPUT SCREENSHOT [POINT] (scripts/screenshot.sh).
  if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "--autorun") == 0) {
    brelin::gui::ScheduleAutorun(window, QString::fromLocal8Bit(argv[2]),
                                 QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]),
                                 argc == 6 ? std::atoi(argv[5]) : -1);
    return window.exec();
  }
  window.exec();
  // Escape or the close box end the program normally; the Close button exits with status 1.
  return 0;
}
