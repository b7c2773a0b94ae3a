#include "ui/user_prompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

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

bool QtUserPrompts::AskToConvert(QWidget* owner, const QString& caption, const QString& text,
                                 const QString& detail) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::NoButton, owner);
  box.setInformativeText(detail);
  QPushButton* convert = box.addButton(QStringLiteral("Convert a copy"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(convert);
  box.setEscapeButton(cancel);
  box.exec();
  return box.clickedButton() == convert;
}

}  // namespace kestrune::ui
