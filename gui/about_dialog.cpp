#include "gui/about_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "gui/app_icon.h"

namespace brelin::gui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Brelin"));

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignTop);

  auto* version = new QLabel(QStringLiteral("Brelin Version 1.2"), this);
  version->setObjectName(QStringLiteral("labelVersion"));
  version->setTextFormat(Qt::PlainText);
  auto* purpose = new QLabel(
      QStringLiteral("Downloads the memory of a KLV480 and writes it as a report."), this);
  purpose->setObjectName(QStringLiteral("labelPurpose"));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("button1"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 2, 1);
  layout->addWidget(version, 0, 1);
  layout->addWidget(purpose, 1, 1);
  layout->addWidget(ok, 0, 2, Qt::AlignTop);
  layout->setColumnStretch(1, 1);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace brelin::gui
