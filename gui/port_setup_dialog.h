#pragma once

#include <QDialog>

#include "gui/port_catalog.h"

class QComboBox;
class QLabel;
class QTimer;

namespace brelin::gui {

// Lets the operator choose the serial port by list position (the port index) or by typing a device
// path or name. The caller sets selectedIndex before exec() and reads it back only after Accepted.
// OK refuses a text that names no port and says why in the dialog. The list follows adapters
// plugged in or pulled while the dialog is open (it is read again every second) and on Refresh.
class PortSetupDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PortSetupDialog(QWidget* parent = nullptr, PortCatalog catalog = SystemPortCatalog());

  // -1: no entry selected.
  int selectedIndex = 0;

  void done(int result) override;
  // Reads the list again; what the operator typed or chose stays. The timer looks for adapters
  // plugged in, Refresh also for built-in ports.
  void Refresh(PortScan scan);

  static constexpr int kPollMs = 1000;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Fill();

  PortCatalog catalog_;
  std::vector<PortChoice> choices_;
  QComboBox* portList_;
  QLabel* hint_;
  QLabel* error_;
  QTimer* poll_;
};

}  // namespace brelin::gui
