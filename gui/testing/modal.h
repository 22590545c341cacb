#pragma once

#include <QApplication>
#include <QTimer>
#include <functional>

namespace brelin::gui::testing {

// Runs action on the next modal dialog of type T once it is showing. Call before the code that
// runs the dialog; the action must end the dialog.
template <typename T>
void WhenModal(std::function<void(T*)> action) {
  auto* timer = new QTimer;
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    action(dialog);
  });
  timer->start();
}

}  // namespace brelin::gui::testing
