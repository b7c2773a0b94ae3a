#include "ui/user_prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace kestrune::ui {

void QtUserPrompts::ShowMessage(QWidget* owner, const QString& caption, const QString& text, Icon icon) {
  QMessageBox box(icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
                  QMessageBox::Ok, owner);
  box.exec();
}

QString QtUserPrompts::OpenFile(const QString& filter, const QString& initialName) {
  // A relative initial name is proposed in the current folder.
  return QFileDialog::getOpenFileName(nullptr, QString(), initialName, filter);
}

QString QtUserPrompts::ChooseFolder(QWidget* owner) {
  return QFileDialog::getExistingDirectory(owner, QString(), QString(), QFileDialog::ShowDirsOnly);
}

}  // namespace kestrune::ui
