#include "gui/port_setup_dialog.h"

#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace brelin::gui {

PortSetupDialog::PortSetupDialog(QWidget* parent, PortCatalog catalog)
    : QDialog(parent), catalog_(std::move(catalog)), choices_(catalog_.list()) {
  setWindowTitle(QStringLiteral("Dialog"));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("button1010"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("button1009"));
  auto* caption = new QLabel(QStringLiteral("Port:"), this);

  portList_ = new QComboBox(this);
  portList_->setObjectName(QStringLiteral("combo1008"));
  portList_->setEditable(true);
  portList_->setInsertPolicy(QComboBox::NoInsert);
  portList_->setMinimumContentsLength(24);
  for (const PortChoice& choice : choices_) {
    portList_->addItem(QString::fromStdString(choice.label));
  }
  caption->setBuddy(portList_);

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QGridLayout(this);
  layout->addWidget(caption, 0, 0);
  layout->addWidget(portList_, 0, 1, 1, 2);
  layout->addWidget(cancel, 1, 1);
  layout->addWidget(ok, 1, 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void PortSetupDialog::showEvent(QShowEvent* event) {
  // A position outside the list leaves no entry selected.
  int index = selectedIndex >= 0 && selectedIndex < portList_->count() ? selectedIndex : -1;
  portList_->setCurrentIndex(index);
  if (index < 0) portList_->setEditText(QString());
  portList_->setFocus();
  QDialog::showEvent(event);
}

void PortSetupDialog::done(int result) {
  if (result == Accepted) selectedIndex = ChosenIndex();
  QDialog::done(result);
}

int PortSetupDialog::ChosenIndex() {
  const QString text = portList_->currentText().trimmed();
  if (text.isEmpty()) return -1;
  const int current = portList_->currentIndex();
  if (current >= 0 && text == portList_->itemText(current)) return current;
  for (int i = 0; i < static_cast<int>(choices_.size()); ++i) {
    if (text == QString::fromStdString(choices_[i].label) ||
        text == QString::fromStdString(choices_[i].path)) {
      return i;
    }
  }
  // A device path the list does not show (a pseudo-terminal, a device plugged in later).
  return catalog_.add(QFile::encodeName(text).toStdString());
}

}  // namespace brelin::gui
