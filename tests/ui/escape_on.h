// Stops a job the way a user does: Escape on its progress dialog.
#pragma once

#include <QObject>
#include <QString>

namespace kestrune::ui::test {

// While it lives, presses Escape on any progress dialog once that dialog
// shows the given status line.
class EscapeOn : public QObject {
 public:
  explicit EscapeOn(QString status);
  ~EscapeOn() override;
  bool eventFilter(QObject* object, QEvent* event) override;

 private:
  QString status_;
};

}  // namespace kestrune::ui::test
