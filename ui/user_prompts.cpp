#include "ui/user_prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace kestrune::ui {

void QtUserPrompts::ShowMessage(QWidget* owner, const QString& caption, const QString& text, Icon icon) {
  QMessageBox box(icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
                  QMessageBox::Ok, owner);
  box.exec();
}

void QtUserPrompts::ShowDetailedMessage(QWidget* owner, const QString& caption, const QString& text,
                                        const QString& details, Icon icon) {
  QMessageBox box(icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
                  QMessageBox::Ok, owner);
  if (!details.isEmpty()) {
    // The cause stays readable without opening the details.
    box.setInformativeText(details);
    box.setDetailedText(details);
  }
  box.exec();
}

bool QtUserPrompts::Ask(QWidget* owner, const QString& caption, const QString& text, const QString& details,
                        const QString& yes) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, owner);
  QPushButton* go = box.addButton(yes, QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  if (!details.isEmpty()) box.setDetailedText(details);
  box.exec();
  return box.clickedButton() == go;
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
