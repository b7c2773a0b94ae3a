// The main dialog: the settings of a matching run, the file and folder
// choosers, the split length from a tempo, the tempo estimate and "Process..".
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "common/options.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrune::ui {

class JobLaunchers;
class OtherTempoLine;
class ResultsWindow;
class UserPrompts;
struct RunResults;

inline constexpr char kAppTitle[] = "Kestrune";
inline constexpr char kWavFilter[] = "WAV files (*.wav);;All Files (*)";
inline constexpr char kDatabaseFilter[] = "Vornic Databases (*.qlmx);;All Files (*)";
inline constexpr char kDatabaseInitialName[] = "database.qlmx";

// Source combo indexes: the list is sorted.
inline constexpr int kSourceDatabase = 0;
inline constexpr int kSourceWav = 1;
// Split modes: the index of the checked radio button.
inline constexpr int kModeMilliseconds = 0;
inline constexpr int kModeBpm = 1;

// The split length for a tempo and a note fraction, held within the
// milliseconds field's range (HeldSplitFromTempo). It applies wherever a tempo
// becomes a split length: the note fraction choice, "Calculate from source"
// and "Process.." in BPM mode.
uint32_t SplitLengthForTempo(uint32_t bpm, int32_t noteFraction);

// The chosen output folder as a prefix of result paths: with the platform's
// separator appended unless it already ends with one.
QString OutputFolderPrefix(const QString& folder);

class CTamberlyDlg : public QDialog {
  Q_OBJECT

 public:
  CTamberlyDlg(UserPrompts& prompts, JobLaunchers& launchers, QWidget* parent = nullptr);

  // Reading (save true): controls into members in the exchange order, each
  // number checked against its range; false at the first failing field, after
  // its message, with the focus on that field and its text selected. Writing:
  // members into controls.
  bool UpdateData(bool save = true);

  // The controls, for the tests.
  struct Controls {
    QComboBox* source;
    QLineEdit* sourcePath;
    QPushButton* openSource;
    QLabel* splitLength;
    QRadioButton* millisecondsMode;
    QLineEdit* splitMs;
    QLabel* millisecondsUnit;
    QRadioButton* bpmMode;
    QLineEdit* bpm;
    QLabel* bpmUnit;
    QComboBox* noteFraction;
    QPushButton* calculate;
    OtherTempoLine* otherTempo;  // under the tempo field, shown after some estimates
    QLineEdit* sample;
    QPushButton* openSample;
    QLineEdit* startOffset;
    QLineEdit* fragmentLength;
    QLineEdit* minSimilarity;
    QCheckBox* declick;
    QCheckBox* collect;
    QLineEdit* outputFolder;
    QPushButton* openOutputFolder;
    QPushButton* process;
    QPushButton* close;
    QPushButton* about;
    QLabel* splitNote;     // the split length a tempo gives, when held to the range
    QLabel* sampleLength;  // the sample's length in splits
    QCheckBox* findAnywhere;  // the search at any offset instead of the matching run
  };
  const Controls& controls() const { return m_c; }

 public slots:
  void OnProcess();
  void OnSelchangeSource();
  void OnOpenSource();
  void OnOpenSample();
  void OnOpenOutputFolder();
  void OnSplitMode();
  void OnCalculateBpm();
  // The link of the other estimate: its tempo into the field.
  void OnUseOtherTempo(double bpm);
  void OnSelchangeNoteFraction();
  void OnAbout();
  // "Close": ends the dialog only when every field reads correctly.
  void accept() override;

 public:
  // Takes a dropped file as source, database or sample (see DropTargetFor);
  // false when it is not one the dialog takes.
  bool TakeDroppedFile(const QString& path);
  // The window showing the last run's results, if open.
  ResultsWindow* Results() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  void OnInitDialog();
  void UpdateControls();
  // Shows the split-length group for a WAV source and enables its fields for the mode.
  void ShowGroups(int32_t source, int32_t splitMode);
  bool ReadNumber(QLineEdit* edit, const OptionRange& range, uint32_t& value);
  void Complain(const QString& text);
  // Offers to convert a WAV source (and the sample, when asked) that the jobs
  // would refuse for its format; false when the user cancelled.
  bool OfferConversions(bool withSample);
  void ShowLiveSplitLength();
  void ShowSampleLength();
  void ShowResults(std::shared_ptr<RunResults> results);
  // "Process.." with "Find anywhere" checked.
  bool ProcessFind(const QString& outputFolder);

  UserPrompts& m_prompts;
  JobLaunchers& m_launchers;
  Controls m_c{};

  QIcon m_hIcon;
  int32_t m_nSource = kSourceWav;
  QString m_strSource;
  QString m_strSample;
  uint32_t m_nStartOffset = kStartOffsetOption.byDefault;
  uint32_t m_nFragmentLength = kFragmentLengthOption.byDefault;
  uint32_t m_nMinSimilarity = kMinSimilarityOption.byDefault;
  int32_t m_bDeclick = 0;
  uint32_t m_nSplitMs = kSplitMsOption.byDefault;
  int32_t m_bCollect = 1;
  int32_t m_nNoteFraction = kDefaultNoteFraction;
  QString m_strOutputFolder;
  int32_t m_nSplitMode = kModeMilliseconds;
  uint32_t m_nBpm = kBpmOption.byDefault;
  int32_t m_bFindAnywhere = 0;
  QPointer<ResultsWindow> m_results;
};

}  // namespace kestrune::ui
