#pragma once

#include <QIcon>

namespace brelin::gui {

// The application icon in every size shipped with the program.
QIcon AppIcon();

}  // namespace brelin::gui
