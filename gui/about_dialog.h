#pragma once

#include <QDialog>

namespace brelin::gui {

// The product name and version, the application icon and one line about what the program is for.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace brelin::gui
