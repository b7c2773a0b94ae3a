#include "escape_on.h"

#include <QApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <utility>

#include "ui/up_dialog.h"

namespace kestrune::ui::test {

EscapeOn::EscapeOn(QString status) : status_(std::move(status)) { qApp->installEventFilter(this); }

EscapeOn::~EscapeOn() { qApp->removeEventFilter(this); }

bool EscapeOn::eventFilter(QObject* object, QEvent* event) {
  auto* dialog = qobject_cast<CUPDialog*>(object);
  if (dialog != nullptr && event->type() == QEvent::Show) {
    connect(dialog, &CUPDialog::statusChanged, this, [this, dialog](const QString& text) {
      if (text == status_) QTimer::singleShot(0, dialog, [dialog] { QTest::keyClick(dialog, Qt::Key_Escape); });
    });
  }
  return false;
}

}  // namespace kestrune::ui::test
