#include "left_windows.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace kestrune::ui::test {

QString LeftTopLevelWindows() {
  // Windows closed with deleteLater go only when deferred deletions run.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QString left;
  for (const QWidget* widget : QApplication::topLevelWidgets()) {
    left += QString::fromUtf8(widget->metaObject()->className()) + " '" + widget->objectName() + "' (" +
            widget->windowTitle() + (widget->isVisible() ? ", shown" : ", hidden") + ")\n";
  }
  return left;
}

}  // namespace kestrune::ui::test
