#include "gui/app_icon.h"

namespace brelin::gui {

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/brelin/icons/brelin-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace brelin::gui
