// The message boxes and file choosers the desktop program shows, behind an
// interface so that tests can answer them.
#pragma once

#include <QString>

class QWidget;

namespace kestrune::ui {

class UserPrompts {
 public:
  enum class Icon { None, Exclamation };

  virtual ~UserPrompts() = default;
  // A message box with a single OK button. owner may be null (a box of its
  // own, not tied to any window).
  virtual void ShowMessage(QWidget* owner, const QString& caption, const QString& text, Icon icon) = 0;
  // The same box with details behind its "Show Details..." button (the
  // cause of a failure); without details it is ShowMessage.
  virtual void ShowDetailedMessage(QWidget* owner, const QString& caption, const QString& text,
                                   const QString& details, Icon icon) {
    (void)details;
    ShowMessage(owner, caption, text, icon);
  }
  // A question with a button that goes ahead (labelled yes) and "Cancel";
  // details, when given, list what it concerns. True to go ahead.
  virtual bool Ask(QWidget* owner, const QString& caption, const QString& text, const QString& details,
                   const QString& yes) = 0;
  // An open-file chooser without owner, with a type filter written Qt's way
  // ("WAV files (*.wav);;All Files (*)"), an optional initial file name and
  // the folder it opens in (empty: the chooser's own choice). Returns the
  // chosen full path, or an empty string when cancelled.
  virtual QString OpenFile(const QString& filter, const QString& initialName, const QString& folder = QString()) = 0;
  // A folder chooser owned by owner. Returns the chosen folder, or an empty
  // string when cancelled.
  virtual QString ChooseFolder(QWidget* owner) = 0;
  // A warning box with text, detail under it, and the buttons "Convert a
  // copy" and "Cancel". True when "Convert a copy" was chosen.
  virtual bool AskToConvert(QWidget* owner, const QString& caption, const QString& text, const QString& detail) = 0;
};

// The platform's message boxes and native file dialogs.
class QtUserPrompts : public UserPrompts {
 public:
  void ShowMessage(QWidget* owner, const QString& caption, const QString& text, Icon icon) override;
  void ShowDetailedMessage(QWidget* owner, const QString& caption, const QString& text, const QString& details,
                           Icon icon) override;
  bool Ask(QWidget* owner, const QString& caption, const QString& text, const QString& details,
           const QString& yes) override;
  QString OpenFile(const QString& filter, const QString& initialName, const QString& folder = QString()) override;
  QString ChooseFolder(QWidget* owner) override;
  bool AskToConvert(QWidget* owner, const QString& caption, const QString& text, const QString& detail) override;
};

}  // namespace kestrune::ui
