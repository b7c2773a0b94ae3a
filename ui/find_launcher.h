// The search at any offset as "Process.." runs it with "Find anywhere in the
// source" checked: fixed search settings, the dialog's split length, offset
// and fragment, the stretches found written to the output folder.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

class QWidget;

namespace kestrune::ui {

class UserPrompts;
struct RunResults;

// What the dialog fixes for its search: the finest hop that stays quick,
// the command line's default number of matches and minimum score.
inline constexpr uint32_t kDialogFindHop = 128;
inline constexpr uint32_t kDialogFindTop = 5;
inline constexpr double kDialogFindMinScore = 6.0;

struct FindRunSettings {
  QString outputFolder;     // a prefix ending with a separator
  QString sourcePath;       // a WAV file, or a splits database when databaseSource
  bool databaseSource = false;
  QString samplePath;
  uint32_t splitMilliseconds = 0;  // not used with a database: it has its own
  uint32_t startOffset = 0;
  uint32_t fragmentLength = 0;
  bool declick = false;
};

// The found files (NAME_found_01.wav ...) a search could replace (native paths).
QStringList ExistingFoundFiles(const QString& outputFolder, const QString& samplePath);

// Runs the search behind "Processing sound." and writes the confident
// stretches. A failure or a stop shows "Error occurs while processing
// sound." with its cause and returns false. Returns true when the search
// ran, confident or not; results receives what it found. When a found
// stretch could not be written that is reported too, and the result is
// still true: the search's findings are worth showing.
bool LaunchFind(QWidget* owner, UserPrompts& prompts, const FindRunSettings& settings, RunResults* results);

}  // namespace kestrune::ui
