#include "test_prompts.h"

namespace kestrune::ui::test {

void TestPrompts::ShowMessage(QWidget* owner, const QString& caption, const QString& text, Icon icon) {
  messages.push_back({owner, caption, text, icon, QThread::currentThread(), QString()});
}

void TestPrompts::ShowDetailedMessage(QWidget* owner, const QString& caption, const QString& text,
                                      const QString& details, Icon icon) {
  messages.push_back({owner, caption, text, icon, QThread::currentThread(), details});
}

bool TestPrompts::Ask(QWidget*, const QString& caption, const QString& text, const QString& details,
                      const QString& yes) {
  questions.push_back({caption, text, details, yes});
  return askAnswers.isEmpty() ? false : askAnswers.takeFirst();
}

QString TestPrompts::OpenFile(const QString& filter, const QString& initialName, const QString& folder) {
  fileRequests.push_back({filter, initialName, folder});
  return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QString TestPrompts::ChooseFolder(QWidget* owner) {
  folderOwners.push_back(owner);
  return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
}

bool TestPrompts::AskToConvert(QWidget* owner, const QString& caption, const QString& text, const QString& detail) {
  messages.push_back({owner, caption, text, Icon::Exclamation, QThread::currentThread()});
  conversionDetails << detail;
  if (convertAnswers.empty()) return false;
  const bool answer = convertAnswers.front();
  convertAnswers.erase(convertAnswers.begin());
  return answer;
}

QStringList TestPrompts::Texts() const {
  QStringList texts;
  for (const auto& m : messages) texts << m.text;
  return texts;
}

}  // namespace kestrune::ui::test
