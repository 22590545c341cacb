#include "gui/port_setup_dialog.h"

#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace brelin::gui {
namespace {

bool SameList(const std::vector<PortChoice>& a, const std::vector<PortChoice>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const PortChoice& x, const PortChoice& y) {
                      return x.path == y.path && x.label == y.label && x.present == y.present;
                    });
}

}  // namespace

PortSetupDialog::PortSetupDialog(QWidget* parent, PortCatalog catalog)
    : QDialog(parent), catalog_(std::move(catalog)), choices_(catalog_.list(PortScan::kAll)) {
  setWindowTitle(QStringLiteral("COM Port Setup"));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("button1010"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("button1009"));
  auto* refresh = new QPushButton(QStringLiteral("&Refresh"), this);
  refresh->setObjectName(QStringLiteral("buttonRefresh"));
  refresh->setAutoDefault(false);
  auto* caption = new QLabel(QStringLiteral("&Port:"), this);

  portList_ = new QComboBox(this);
  portList_->setObjectName(QStringLiteral("combo1008"));
  portList_->setEditable(true);
  portList_->setInsertPolicy(QComboBox::NoInsert);
  // Inline completion took the first Enter for itself: a typed path completed to its list label,
  // and only a second Enter reached OK.
  portList_->setCompleter(nullptr);
  portList_->setMinimumContentsLength(32);
  caption->setBuddy(portList_);

  hint_ =
      new QLabel(QStringLiteral("No serial ports found \u2014 plug in the instrument's adapter, "
                                "or type a device path"),
                 this);
  hint_->setObjectName(QStringLiteral("labelHint"));
  error_ = new QLabel(this);
  error_->setObjectName(QStringLiteral("labelError"));
  error_->setTextFormat(Qt::PlainText);
  error_->setWordWrap(true);
  error_->setStyleSheet(QStringLiteral("color: #b00020"));
  error_->hide();
  Fill();

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(refresh, &QPushButton::clicked, this, [this] { Refresh(PortScan::kAll); });
  connect(portList_, &QComboBox::editTextChanged, error_, &QLabel::hide);

  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, [this] { Refresh(PortScan::kPlugged); });
  poll_->start();

  auto* layout = new QGridLayout(this);
  layout->addWidget(caption, 0, 0);
  layout->addWidget(portList_, 0, 1, 1, 3);
  layout->addWidget(hint_, 1, 1, 1, 3);
  layout->addWidget(error_, 2, 1, 1, 3);
  layout->addWidget(refresh, 3, 1);
  layout->addWidget(cancel, 3, 2);
  layout->addWidget(ok, 3, 3);
  layout->setColumnStretch(1, 1);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void PortSetupDialog::Fill() {
  portList_->clear();
  for (const PortChoice& choice : choices_) {
    portList_->addItem(QString::fromStdString(choice.label));
  }
  hint_->setVisible(choices_.empty());
}

void PortSetupDialog::Refresh(PortScan scan) {
  std::vector<PortChoice> choices = catalog_.list(scan);
  if (SameList(choices, choices_)) return;
  // Entries only ever grow or change their label, so the chosen position keeps its device.
  const QString text = portList_->currentText();
  const int current = portList_->currentIndex();
  const bool typed = current < 0 || text != portList_->itemText(current);
  choices_ = std::move(choices);
  Fill();
  if (!typed && current < portList_->count()) {
    portList_->setCurrentIndex(current);
  } else {
    portList_->setCurrentIndex(-1);
    portList_->setEditText(text);
  }
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
  if (result == Accepted) {
    const int current = portList_->currentIndex();
    const QString text = portList_->currentText().trimmed();
    PortResolution chosen;
    if (current >= 0 && text == portList_->itemText(current)) {
      chosen.index = current;
    } else {
      chosen = ResolvePortText(catalog_, choices_, QFile::encodeName(text).toStdString());
    }
    if (!chosen.error.empty()) {
      error_->setText(QString::fromStdString(chosen.error));
      error_->show();
      return;  // the dialog stays open for another choice
    }
    selectedIndex = chosen.index;
  }
  QDialog::done(result);
}

}  // namespace brelin::gui
