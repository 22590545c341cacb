#pragma once

#include <QDialog>

#include "gui/port_catalog.h"

class QComboBox;

namespace brelin::gui {

// Lets the operator choose the serial port by list position (the port index) or by typing a device
// path. The caller sets selectedIndex before exec() and reads it back only after Accepted.
class PortSetupDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PortSetupDialog(QWidget* parent = nullptr, PortCatalog catalog = SystemPortCatalog());

  // -1: no entry selected.
  int selectedIndex = 0;

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  int ChosenIndex();

  PortCatalog catalog_;
  std::vector<PortChoice> choices_;
  QComboBox* portList_;
};

}  // namespace brelin::gui
