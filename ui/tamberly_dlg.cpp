#include "ui/tamberly_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QUrl>

#include <algorithm>
#include <cmath>

#include "analysis/tempo_worker.h"
#include "common/split_geometry.h"
#include "ui/about_dlg.h"
#include "storage/splits_database.h"
#include "ui/app_icon.h"
#include "ui/convert_offer.h"
#include "ui/dialog_extras.h"
#include "ui/find_launcher.h"
#include "ui/launchers.h"
#include "ui/other_tempo_line.h"
#include "ui/results_window.h"
#include "ui/run_results.h"
#include "ui/user_prompts.h"

namespace kestrune::ui {
namespace {

const char kNotANumber[] = "Please enter a positive integer.";
const char kOutOfRange[] = "Please enter an integer between %1 and %2.";
const char kSourceIncorrect[] = "Source file incorrect.";

QLineEdit* NumberEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  // Digits only, as typed; an empty field is still possible and is refused
  // when read.
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 16);
  return edit;
}

QLineEdit* PathEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setReadOnly(true);  // paths come from the choosers only
  edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
  return edit;
}

QPushButton* Button(QWidget* parent, const QString& text, const char* name) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);  // Enter presses "Process.." only
  return button;
}

QString FromUser(const QString& path) { return QDir::toNativeSeparators(path); }

}  // namespace

uint32_t SplitLengthForTempo(uint32_t bpm, int32_t noteFraction) {
  return HeldSplitFromTempo(bpm, noteFraction);
}

QString OutputFolderPrefix(const QString& folder) {
  QString prefix = QDir::toNativeSeparators(folder);
  if (!prefix.endsWith(QDir::separator())) prefix += QDir::separator();
  return prefix;
}

CTamberlyDlg::CTamberlyDlg(UserPrompts& prompts, JobLaunchers& launchers, QWidget* parent)
    : QDialog(parent), m_prompts(prompts), m_launchers(launchers), m_hIcon(AppIcon()) {
  m_strOutputFolder = OutputFolderPrefix(QDir::homePath());
  CreateControls();
  OnInitDialog();
}

void CTamberlyDlg::CreateControls() {
  setWindowTitle(kAppTitle);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  auto* grid = new QGridLayout;
  grid->setColumnStretch(1, 1);
  int row = 0;
  auto label = [this](const char* text) { return new QLabel(QString::fromUtf8(text), this); };

  // 1: source kind. The list is sorted, so "Splits Database" comes first.
  m_c.source = new QComboBox(this);
  m_c.source->setObjectName("source");
  m_c.source->addItems({QStringLiteral("Splits Database"), QStringLiteral("Wav File")});
  grid->addWidget(label("Source to search in:"), row, 0);
  grid->addWidget(m_c.source, row, 1, Qt::AlignLeft);
  ++row;

  // 2: source file.
  m_c.sourcePath = PathEdit(this, "sourcePath");
  m_c.openSource = Button(this, QStringLiteral("Open..."), "openSource");
  grid->addWidget(label("Source:"), row, 0);
  grid->addWidget(m_c.sourcePath, row, 1);
  grid->addWidget(m_c.openSource, row, 2);
  ++row;

  // 3 and 4: the split-length group, shown only with a WAV source.
  m_c.splitLength = label("Split length:");
  m_c.splitLength->setObjectName("splitLength");
  m_c.millisecondsMode = new QRadioButton(this);
  m_c.millisecondsMode->setObjectName("millisecondsMode");
  m_c.millisecondsMode->setAccessibleName(QStringLiteral("milliseconds"));
  m_c.splitMs = NumberEdit(this, "splitMs");
  m_c.millisecondsUnit = label("milliseconds");
  m_c.bpmMode = new QRadioButton(this);
  m_c.bpmMode->setObjectName("bpmMode");
  m_c.bpmMode->setAccessibleName(QStringLiteral("BPM"));
  m_c.bpm = NumberEdit(this, "bpm");
  m_c.bpmUnit = label("BPM");
  m_c.noteFraction = new QComboBox(this);
  m_c.noteFraction->setObjectName("noteFraction");
  for (const char* fraction : kNoteFractions) m_c.noteFraction->addItem(QString::fromUtf8(fraction));
  m_c.calculate = Button(this, QStringLiteral("Calculate from source"), "calculate");

  auto* msRow = new QHBoxLayout;
  msRow->addWidget(m_c.millisecondsMode);
  msRow->addWidget(m_c.splitMs);
  msRow->addWidget(m_c.millisecondsUnit);
  m_c.splitNote = new QLabel(this);
  m_c.splitNote->setObjectName("splitNote");
  msRow->addSpacing(8);
  msRow->addWidget(m_c.splitNote);
  msRow->addStretch(1);
  grid->addWidget(m_c.splitLength, row, 0);
  grid->addLayout(msRow, row, 1);
  ++row;
  auto* bpmRow = new QHBoxLayout;
  bpmRow->addWidget(m_c.bpmMode);
  bpmRow->addWidget(m_c.bpm);
  bpmRow->addWidget(m_c.bpmUnit);
  bpmRow->addSpacing(8);
  bpmRow->addWidget(m_c.noteFraction);
  bpmRow->addStretch(1);
  grid->addLayout(bpmRow, row, 1);
  grid->addWidget(m_c.calculate, row, 2);
  ++row;
  m_c.otherTempo = new OtherTempoLine(this);
  grid->addWidget(m_c.otherTempo, row++, 1);

  // 5: the sample.
  m_c.sample = PathEdit(this, "sample");
  m_c.openSample = Button(this, QStringLiteral("Open..."), "openSample");
  m_c.sampleLength = new QLabel(this);
  m_c.sampleLength->setObjectName("sampleLength");
  m_c.sampleLength->setToolTip(QStringLiteral("Whole splits in the sample at the current split length"));
  auto* sampleRow = new QHBoxLayout;
  sampleRow->addWidget(m_c.sample, 1);
  sampleRow->addWidget(m_c.sampleLength);
  grid->addWidget(label("Wave File to find:"), row, 0);
  grid->addLayout(sampleRow, row, 1);
  grid->addWidget(m_c.openSample, row, 2);
  ++row;

  // 6 to 8: numbers.
  const QString offsetTip = QStringLiteral("Whole splits of the sample skipped before the fragment (0..50000)");
  const QString lengthTip = QStringLiteral("Consecutive splits of the sample searched for, one after another (1..50)");
  const QString similarityTip =
      QStringLiteral("Source splits whose beat masks agree with a template split in at least this share of "
                     "bits are written (1..100). Random sound agrees in about half of them.");
  m_c.startOffset = NumberEdit(this, "startOffset");
  m_c.startOffset->setToolTip(offsetTip);
  grid->addWidget(label("Start Offset (splits.):"), row, 0);
  grid->itemAtPosition(row, 0)->widget()->setToolTip(offsetTip);
  grid->addWidget(m_c.startOffset, row++, 1, Qt::AlignLeft);
  m_c.fragmentLength = NumberEdit(this, "fragmentLength");
  m_c.fragmentLength->setToolTip(lengthTip);
  grid->addWidget(label("Fragment Length (splits.):"), row, 0);
  grid->itemAtPosition(row, 0)->widget()->setToolTip(lengthTip);
  grid->addWidget(m_c.fragmentLength, row++, 1, Qt::AlignLeft);
  m_c.minSimilarity = NumberEdit(this, "minSimilarity");
  m_c.minSimilarity->setToolTip(similarityTip);
  grid->addWidget(label("Minimum Similarity (%):"), row, 0);
  grid->itemAtPosition(row, 0)->widget()->setToolTip(similarityTip);
  grid->addWidget(m_c.minSimilarity, row++, 1, Qt::AlignLeft);
  m_c.findAnywhere = new QCheckBox(QStringLiteral("Find anywhere in the source (any offset)"), this);
  m_c.findAnywhere->setObjectName("findAnywhere");
  m_c.findAnywhere->setToolTip(
      QStringLiteral("Search for the whole fragment at every %1th frame of the source, not only where splits "
                     "begin, and say how sure each place is: a score (z) of %2 or more is confident. The "
                     "confident stretches are written as NAME_found_01.wav, ...; the minimum similarity is "
                     "not used.")
          .arg(kDialogFindHop)
          .arg(kDialogFindMinScore));
  grid->addWidget(m_c.findAnywhere, row++, 1);

  // 9 and 10: flags.
  m_c.declick = new QCheckBox(QStringLiteral("Use declick filter"), this);
  m_c.declick->setObjectName("declick");
  grid->addWidget(m_c.declick, row++, 1);
  m_c.collect = new QCheckBox(QStringLiteral("Collect results in one file"), this);
  m_c.collect->setObjectName("collect");
  grid->addWidget(m_c.collect, row++, 1);

  // 11: output folder.
  m_c.outputFolder = PathEdit(this, "outputFolder");
  m_c.openOutputFolder = Button(this, QStringLiteral("Open..."), "openOutputFolder");
  grid->addWidget(label("Output folder:"), row, 0);
  grid->addWidget(m_c.outputFolder, row, 1);
  grid->addWidget(m_c.openOutputFolder, row, 2);
  ++row;

  // 12: commands. "Process.." is the default button.
  m_c.about = Button(this, QStringLiteral("&About Kestrune"), "about");
  m_c.process = Button(this, QStringLiteral("Process.."), "process");
  m_c.process->setDefault(true);
  m_c.close = Button(this, QStringLiteral("Close"), "close");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_c.about);
  buttons->addStretch(1);
  buttons->addWidget(m_c.process);
  buttons->addWidget(m_c.close);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  // The dialog takes the size of what it shows, also when the split-length
  // group is hidden.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(m_c.process, &QPushButton::clicked, this, &CTamberlyDlg::OnProcess);
  connect(m_c.source, &QComboBox::activated, this, &CTamberlyDlg::OnSelchangeSource);
  connect(m_c.openSource, &QPushButton::clicked, this, &CTamberlyDlg::OnOpenSource);
  connect(m_c.openSample, &QPushButton::clicked, this, &CTamberlyDlg::OnOpenSample);
  connect(m_c.openOutputFolder, &QPushButton::clicked, this, &CTamberlyDlg::OnOpenOutputFolder);
  connect(m_c.bpmMode, &QRadioButton::clicked, this, &CTamberlyDlg::OnSplitMode);
  connect(m_c.millisecondsMode, &QRadioButton::clicked, this, &CTamberlyDlg::OnSplitMode);
  connect(m_c.calculate, &QPushButton::clicked, this, &CTamberlyDlg::OnCalculateBpm);
  connect(m_c.otherTempo, &OtherTempoLine::useTempo, this, &CTamberlyDlg::OnUseOtherTempo);
  connect(m_c.noteFraction, &QComboBox::activated, this, &CTamberlyDlg::OnSelchangeNoteFraction);
  connect(m_c.close, &QPushButton::clicked, this, &CTamberlyDlg::accept);
  connect(m_c.about, &QPushButton::clicked, this, &CTamberlyDlg::OnAbout);
  // The search's score decides what is found, not the minimum similarity.
  connect(m_c.findAnywhere, &QCheckBox::toggled, m_c.minSimilarity, [this](bool on) { m_c.minSimilarity->setEnabled(!on); });
  // What the dialog shows live: the split length a tempo gives and the
  // sample's length in splits.
  connect(m_c.bpm, &QLineEdit::textChanged, this, &CTamberlyDlg::ShowLiveSplitLength);
  connect(m_c.noteFraction, &QComboBox::currentIndexChanged, this, &CTamberlyDlg::ShowLiveSplitLength);
  connect(m_c.bpmMode, &QRadioButton::toggled, this, &CTamberlyDlg::ShowLiveSplitLength);
  connect(m_c.splitMs, &QLineEdit::textChanged, this, &CTamberlyDlg::ShowSampleLength);
  connect(m_c.sample, &QLineEdit::textChanged, this, &CTamberlyDlg::ShowSampleLength);
  connect(m_c.source, &QComboBox::currentIndexChanged, this, &CTamberlyDlg::ShowSampleLength);
  setAcceptDrops(true);
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, &CTamberlyDlg::OnAbout);
}

void CTamberlyDlg::OnInitDialog() {
  UpdateData(false);
  setWindowIcon(m_hIcon);
  UpdateControls();
}

bool CTamberlyDlg::UpdateData(bool save) {
  if (!save) {
    m_c.source->setCurrentIndex(m_nSource);
    m_c.sourcePath->setText(m_strSource);
    m_c.sample->setText(m_strSample);
    m_c.startOffset->setText(QString::number(m_nStartOffset));
    m_c.fragmentLength->setText(QString::number(m_nFragmentLength));
    m_c.minSimilarity->setText(QString::number(m_nMinSimilarity));
    m_c.declick->setChecked(m_bDeclick != 0);
    m_c.splitMs->setText(QString::number(m_nSplitMs));
    m_c.collect->setChecked(m_bCollect != 0);
    m_c.outputFolder->setText(m_strOutputFolder);
    m_c.millisecondsMode->setChecked(m_nSplitMode == kModeMilliseconds);
    m_c.bpmMode->setChecked(m_nSplitMode == kModeBpm);
    m_c.bpm->setText(QString::number(m_nBpm));
    m_c.noteFraction->setCurrentIndex(m_nNoteFraction);
    m_c.findAnywhere->setChecked(m_bFindAnywhere != 0);
    return true;
  }

  // The exchange order decides which field is reported when several are
  // wrong; fields read before the failing one keep their new values. Hidden
  // and disabled fields are read and checked as well.
  m_nSource = m_c.source->currentIndex();
  m_strSource = m_c.sourcePath->text();
  m_strSample = m_c.sample->text();
  if (!ReadNumber(m_c.startOffset, kStartOffsetOption, m_nStartOffset)) return false;
  if (!ReadNumber(m_c.fragmentLength, kFragmentLengthOption, m_nFragmentLength)) return false;
  if (!ReadNumber(m_c.minSimilarity, kMinSimilarityOption, m_nMinSimilarity)) return false;
  m_bDeclick = m_c.declick->isChecked() ? 1 : 0;
  if (!ReadNumber(m_c.splitMs, kSplitMsOption, m_nSplitMs)) return false;
  m_bCollect = m_c.collect->isChecked() ? 1 : 0;
  m_strOutputFolder = m_c.outputFolder->text();
  m_nSplitMode = m_c.millisecondsMode->isChecked() ? kModeMilliseconds : m_c.bpmMode->isChecked() ? kModeBpm : -1;
  if (!ReadNumber(m_c.bpm, kBpmOption, m_nBpm)) return false;
  m_nNoteFraction = m_c.noteFraction->currentIndex();
  m_bFindAnywhere = m_c.findAnywhere->isChecked() ? 1 : 0;
  return true;
}

bool CTamberlyDlg::ReadNumber(QLineEdit* edit, const OptionRange& range, uint32_t& value) {
  const QString text = edit->text().trimmed();
  const bool digits = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
  });
  QString complaint;
  if (!digits) {
    complaint = kNotANumber;
  } else {
    bool fits = false;
    const qulonglong number = text.toULongLong(&fits);
    // A number too long to be held is out of range as well.
    if (!fits || number < range.low || number > range.high) {
      complaint = QString::fromUtf8(kOutOfRange).arg(range.low).arg(range.high);
    } else {
      value = static_cast<uint32_t>(number);
      return true;
    }
  }
  Complain(complaint);
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
  return false;
}

void CTamberlyDlg::Complain(const QString& text) {
  m_prompts.ShowMessage(this, kAppTitle, text, UserPrompts::Icon::Exclamation);
}

void CTamberlyDlg::UpdateControls() {
  if (!UpdateData(true)) return;
  ShowGroups(m_nSource, m_nSplitMode);
}

void CTamberlyDlg::ShowGroups(int32_t source, int32_t splitMode) {
  // A splits database fixes the split length itself.
  const bool wavSource = source != kSourceDatabase;
  for (QWidget* w : std::initializer_list<QWidget*>{m_c.splitLength, m_c.millisecondsMode, m_c.splitMs,
                                                    m_c.millisecondsUnit, m_c.bpmMode, m_c.bpm, m_c.bpmUnit,
                                                    m_c.noteFraction, m_c.calculate, m_c.splitNote}) {
    w->setVisible(wavSource);
  }
  const bool bpmMode = splitMode == kModeBpm;
  m_c.bpm->setEnabled(bpmMode);
  m_c.calculate->setEnabled(bpmMode);
  m_c.noteFraction->setEnabled(bpmMode);
  m_c.splitMs->setEnabled(m_nSplitMode == kModeMilliseconds);
  if (!wavSource || !bpmMode) m_c.otherTempo->setVisible(false);
  m_c.splitMs->setEnabled(splitMode == kModeMilliseconds);
  ShowSampleLength();
}

void CTamberlyDlg::OnSplitMode() { UpdateControls(); }

void CTamberlyDlg::OnSelchangeSource() { UpdateControls(); }

void CTamberlyDlg::OnSelchangeNoteFraction() {
  if (!UpdateData(true)) return;
  m_nSplitMs = SplitLengthForTempo(m_nBpm, m_nNoteFraction);
  UpdateData(false);
}

void CTamberlyDlg::OnOpenSource() {
  if (!UpdateData(true)) return;
  QString path;
  if (m_nSource == kSourceDatabase) {
    path = m_prompts.OpenFile(kDatabaseFilter, kDatabaseInitialName, FolderOf(m_strSource));
  } else if (m_nSource == kSourceWav) {
    path = m_prompts.OpenFile(SoundFileFilter(kWavFilter), QString(), FolderOf(m_strSource));
  } else {
    return;
  }
  if (path.isEmpty()) return;
  m_strSource = FromUser(path);
  UpdateData(false);
}

void CTamberlyDlg::OnOpenSample() {
  if (!UpdateData(true)) return;
  // The sample's folder, or the source's while there is no sample yet.
  const QString folder = FolderOf(m_strSample.isEmpty() ? m_strSource : m_strSample);
  const QString path = m_prompts.OpenFile(SoundFileFilter(kWavFilter), QString(), folder);
  if (path.isEmpty()) return;
  m_strSample = FromUser(path);
  UpdateData(false);
}

void CTamberlyDlg::OnOpenOutputFolder() {
  if (!UpdateData(true)) return;
  const QString folder = m_prompts.ChooseFolder(this);
  if (folder.isEmpty()) return;
  m_strOutputFolder = OutputFolderPrefix(folder);
  UpdateData(false);
}

void CTamberlyDlg::OnCalculateBpm() {
  if (!UpdateData(true)) return;
  if (m_strSource.isEmpty()) {
    Complain(kSourceIncorrect);
    return;
  }
  if (!OfferConversions(false)) return;
  double estimate = 0.0;
  OnsetTempo other;
  const bool estimated = m_launchers.TempoEstimates(this, m_strSource, &estimate, &other);
  m_c.otherTempo->Offer(estimated, estimate, other);
  if (!estimated) {
    Complain(kTempoFailedMessage);
    return;
  }
  m_nBpm = static_cast<uint32_t>(estimate);  // truncated toward zero
  m_nSplitMs = SplitLengthForTempo(m_nBpm, m_nNoteFraction);
  UpdateData(false);
}

void CTamberlyDlg::OnUseOtherTempo(double bpm) {
  if (!UpdateData(true)) return;
  // Rounded as shown, within the field's range.
  m_nBpm = static_cast<uint32_t>(std::clamp<long>(std::lround(bpm), kBpmOption.low, kBpmOption.high));
  m_nSplitMs = SplitLengthForTempo(m_nBpm, m_nNoteFraction);
  UpdateData(false);
}

bool CTamberlyDlg::OfferConversions(bool withSample) {
  bool changed = false;
  for (QString* path : {&m_strSource, &m_strSample}) {
    if (path == &m_strSource ? m_nSource != kSourceWav : !withSample) continue;
    const OfferOutcome outcome = OfferConversion(this, m_prompts, m_strOutputFolder, *path);
    if (outcome == OfferOutcome::Cancelled) return false;
    changed |= outcome == OfferOutcome::Converted;
  }
  if (changed) UpdateData(false);
  return true;
}

void CTamberlyDlg::OnProcess() {
  if (!UpdateData(true)) return;
  if (!OfferConversions(true)) return;
  const QString outputFolder = m_strOutputFolder;
  const uint32_t separateFiles = m_bCollect == 0 ? 1 : 0;
  const uint32_t declick = m_bDeclick != 0 ? 1 : 0;
  // The launchers report their own failures; a success opens its results.
  bool done = false;
  if (m_bFindAnywhere != 0) {
    done = ProcessFind(outputFolder);
  } else if (m_nSource == kSourceDatabase) {
    done = m_launchers.DatabaseMatch(this, outputFolder, m_strSource, m_strSample, m_nStartOffset,
                                     m_nFragmentLength, m_nMinSimilarity, declick, separateFiles);
  } else if (m_nSource == kSourceWav) {
    // In BPM mode the tempo decides, whatever the milliseconds field shows;
    // the derived length is not written back.
    if (m_nSplitMode == kModeBpm) m_nSplitMs = SplitLengthForTempo(m_nBpm, m_nNoteFraction);
    done = m_launchers.WavMatch(this, outputFolder, m_strSource, m_strSample, m_nSplitMs, m_nStartOffset,
                                m_nFragmentLength, m_nMinSimilarity, declick, separateFiles);
  }
  if (done) ShowResults(m_launchers.TakeResults());
}

bool CTamberlyDlg::ProcessFind(const QString& outputFolder) {
  FindRunSettings settings;
  settings.outputFolder = outputFolder;
  settings.sourcePath = m_strSource;
  settings.samplePath = m_strSample;
  settings.startOffset = m_nStartOffset;
  settings.fragmentLength = m_nFragmentLength;
  settings.declick = m_bDeclick != 0;
  if (m_nSource == kSourceDatabase) {
    // A database holds masks on its own grid only: the search shifts the
    // sample instead and needs two splits to do so.
    if (m_nFragmentLength < 2) {
      Complain(QStringLiteral("A search anywhere in a splits database needs a fragment of at least 2 splits."));
      m_c.fragmentLength->setFocus(Qt::OtherFocusReason);
      m_c.fragmentLength->selectAll();
      return false;
    }
    settings.databaseSource = true;
  } else {
    if (m_nSplitMode == kModeBpm) m_nSplitMs = SplitLengthForTempo(m_nBpm, m_nNoteFraction);
    settings.splitMilliseconds = m_nSplitMs;
  }
  return m_launchers.Find(this, settings);
}

ResultsWindow* CTamberlyDlg::Results() const { return m_results.data(); }

void CTamberlyDlg::ShowResults(std::shared_ptr<RunResults> results) {
  if (!results) return;
  // One results window at a time: the newest run replaces the last.
  if (m_results) m_results->close();
  m_results = new ResultsWindow(std::move(results), this);
  m_results->show();
  m_results->raise();
}

void CTamberlyDlg::ShowLiveSplitLength() {
  if (!m_c.bpmMode->isChecked()) {
    m_c.splitNote->clear();
    return;
  }
  // In BPM mode the milliseconds field shows the length "Process.." will use.
  const auto live = SplitLengthForTempoText(m_c.bpm->text(), m_c.noteFraction->currentIndex());
  if (!live) {
    m_c.splitNote->clear();
    return;
  }
  m_c.splitMs->setText(QString::number(live->milliseconds));
  m_c.splitNote->setText(live->note);
}

void CTamberlyDlg::ShowSampleLength() {
  uint32_t splitMs = 0;
  if (m_c.source->currentIndex() == kSourceDatabase) {
    // The database fixes the split length; its header says which.
    QFile file(m_c.sourcePath->text());
    DatabaseHeader header;
    if (!file.fileName().isEmpty() && file.open(QIODevice::ReadOnly)) {
      const QByteArray bytes = file.read(kDatabaseHeaderSize);
      if (bytes.size() == qsizetype{kDatabaseHeaderSize} &&
          ParseDatabaseHeader(reinterpret_cast<const uint8_t*>(bytes.constData()), header)) {
        splitMs = header.splitMilliseconds;
      }
    }
  } else {
    splitMs = m_c.splitMs->text().toUInt();
  }
  m_c.sampleLength->setText(SampleLengthText(m_c.sample->text(), splitMs));
}

bool CTamberlyDlg::TakeDroppedFile(const QString& path) {
  const QString native = FromUser(path);
  switch (DropTargetFor(path, m_c.sourcePath->text().isEmpty())) {
    case DropTarget::Database:
      m_c.source->setCurrentIndex(kSourceDatabase);
      m_c.sourcePath->setText(native);
      break;
    case DropTarget::Source:
      m_c.source->setCurrentIndex(kSourceWav);
      m_c.sourcePath->setText(native);
      break;
    case DropTarget::Sample:
      m_c.sample->setText(native);
      break;
    case DropTarget::None:
      return false;
  }
  ShowGroups(m_c.source->currentIndex(), m_c.bpmMode->isChecked() ? kModeBpm : kModeMilliseconds);
  return true;
}

void CTamberlyDlg::dragEnterEvent(QDragEnterEvent* event) {
  const auto urls = event->mimeData()->urls();
  for (const QUrl& url : urls) {
    if (url.isLocalFile() && DropTargetFor(url.toLocalFile(), false) != DropTarget::None) {
      event->acceptProposedAction();
      return;
    }
  }
}

void CTamberlyDlg::dropEvent(QDropEvent* event) {
  bool taken = false;
  const auto urls = event->mimeData()->urls();
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) taken = TakeDroppedFile(url.toLocalFile()) || taken;
  }
  if (taken) event->acceptProposedAction();
}

void CTamberlyDlg::accept() {
  if (UpdateData(true)) QDialog::accept();
}

void CTamberlyDlg::OnAbout() {
  CAboutDlg about(this);
  about.exec();
}

}  // namespace kestrune::ui
