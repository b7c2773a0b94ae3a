// Test doubles for the desktop program's seams: message boxes and choosers
// that record what they were asked and answer from prepared lists.
#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include <vector>

#include "ui/user_prompts.h"

namespace kestrune::ui::test {

struct ShownMessage {
  QWidget* owner;
  QString caption;
  QString text;
  UserPrompts::Icon icon;
  QThread* thread;  // the thread that showed it
  QString details;
};

struct Question {
  QString caption, text, details, yes;
};

struct FileRequest {
  QString filter;
  QString initialName;
  QString folder;
};

class TestPrompts : public UserPrompts {
 public:
  void ShowMessage(QWidget* owner, const QString& caption, const QString& text, Icon icon) override;
  void ShowDetailedMessage(QWidget* owner, const QString& caption, const QString& text, const QString& details,
                           Icon icon) override;
  // Answers with the next of askAnswers; none left counts as "Cancel".
  bool Ask(QWidget* owner, const QString& caption, const QString& text, const QString& details,
           const QString& yes) override;
  // Answers with the next of fileAnswers (an empty string cancels).
  QString OpenFile(const QString& filter, const QString& initialName, const QString& folder = QString()) override;
  // Answers with the next of folderAnswers (an empty string cancels).
  QString ChooseFolder(QWidget* owner) override;
  // Recorded among the messages (text, then detail in conversionDetails);
  // answers with the next of convertAnswers (none left: Cancel).
  bool AskToConvert(QWidget* owner, const QString& caption, const QString& text, const QString& detail) override;

  QStringList Texts() const;

  std::vector<ShownMessage> messages;
  std::vector<Question> questions;
  QList<bool> askAnswers;
  std::vector<FileRequest> fileRequests;
  std::vector<QWidget*> folderOwners;
  QStringList fileAnswers;
  QStringList folderAnswers;
  QStringList conversionDetails;
  std::vector<bool> convertAnswers;
};

}  // namespace kestrune::ui::test
