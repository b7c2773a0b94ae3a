#include "ui/user_prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace kestrune::ui {

void QtUserPrompts::ShowMessage(QWidget* owner, const QString& caption, const QString& text, Icon icon) {
  QMessageBox box(icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
                  QMessageBox::Ok, owner);
  box.exec();
}

QString QtUserPrompts::OpenFile(const QString& filter, const QString& initialName, const QString& folder) {
  // Without a folder, a relative initial name is proposed in the current folder.
  const QString start = folder.isEmpty()        ? initialName
                        : initialName.isEmpty() ? folder
                                                : QDir(folder).filePath(initialName);
  return QFileDialog::getOpenFileName(nullptr, QString(), start, filter);
}

QString QtUserPrompts::ChooseFolder(QWidget* owner) {
  return QFileDialog::getExistingDirectory(owner, QString(), QString(), QFileDialog::ShowDirsOnly);
}

}  // namespace kestrune::ui
