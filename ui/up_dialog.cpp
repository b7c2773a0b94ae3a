#include "ui/up_dialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <system_error>

namespace kestrune::ui {
namespace {

constexpr int64_t kTerminationWaitMs = 500;
// How often a waiting user interface thread looks for reports to deliver.
constexpr auto kDeliveryInterval = std::chrono::milliseconds(2);

const char kTerminationInitiated[] = "Termination Initiated..";
const char kTerminationComplete[] = "Termination Complete ..Shutting Down !!";

}  // namespace

CUPDialog::CUPDialog(QWidget* parent, bool allowCancel, const QString& title, WorkerProc worker,
                     void* userData)
    : QDialog(parent), m_hParent(parent), m_bAllowCancel(allowCancel), m_szTitle(title.left(kMaxTitleLength)) {
  m_context.pUserData = userData;
  m_context.pfnWorker = worker;

  // A caption and no buttons; a close button only when cancelling is allowed.
  // Escape terminates a run either way.
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (m_bAllowCancel) flags |= Qt::WindowCloseButtonHint;
  setWindowFlags(flags);
  setModal(true);
  setWindowTitle(m_szTitle);

  m_status = new QLabel(this);
  m_status->setAlignment(Qt::AlignCenter);
  m_status->setMinimumWidth(360);
  m_progress = new QProgressBar(this);
  m_progress->setRange(0, 100);
  m_progress->setTextVisible(false);

  // A visible way to stop besides Escape; greyed once stopping has begun.
  m_stop = new QPushButton(tr("Stop"), this);
  m_stop->setObjectName("stop");
  m_stop->setAutoDefault(false);
  m_stop->setToolTip(tr("Stop this run (Escape)"));
  connect(m_stop, &QPushButton::clicked, this, &CUPDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_status);
  auto* bar = new QHBoxLayout;
  bar->addWidget(m_progress, 1);
  bar->addWidget(m_stop);
  layout->addLayout(bar);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

CUPDialog::~CUPDialog() { Cleanup(); }

int CUPDialog::DoModal() {
  Cleanup();

  m_status->clear();
  m_progress->setValue(0);
  m_stop->setEnabled(true);
  setWindowTitle(m_szTitle);
  m_context.hDlg = this;
  ++m_generation;
  m_bOpen.store(true);
  m_bThreadDone.store(false);
  try {
    m_hThread = std::thread(&CUPDialog::ThreadMain, this, m_generation);
  } catch (const std::system_error&) {
    m_bThreadDone.store(true);
    m_bOpen.store(false);
    return PD_FAILED;
  }
  return exec();
}

void CUPDialog::ThreadMain(uint64_t generation) {
  RunWorkerRoutine(&m_context, [this, generation](int code) {
    QMetaObject::invokeMethod(
        this, [this, code, generation] { OnFinished(code, generation); }, Qt::QueuedConnection);
  });
  m_bThreadDone.store(true);
}

void CUPDialog::OnFinished(int code, uint64_t generation) {
  // An end posted just as termination began, or by an earlier run, is void.
  if (generation != m_generation || !m_bOpen.load() || m_context.bTerminate.load()) return;
  done(code);
}

void CUPDialog::done(int code) {
  m_bOpen.store(false);
  QDialog::done(code);
}

void CUPDialog::reject() {
  if (m_bOpen.load() && !m_context.bTerminate.load()) Terminate();
}

void CUPDialog::Terminate() {
  m_context.bTerminate.store(true);
  ShowStatus(kTerminationInitiated);
  m_stop->setEnabled(false);
  if (m_context.bRunning.load()) {
    WaitForWorker(kTerminationWaitMs);
    if (m_context.bRunning.load()) {
      ShowStatus(kTerminationComplete);
      if (m_context.bRunning.load()) WaitForWorker(kTerminationWaitMs);
    }
  }
  done(PD_TERMINATED);
}

void CUPDialog::WaitForWorker(int64_t limitMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  auto waiting = [&] {
    if (limitMs < 0) return !m_bThreadDone.load();
    return m_context.bRunning.load() && Clock::now() < deadline;
  };
  while (waiting()) {
    // A report the worker began before it was told to stop would otherwise
    // keep it blocked for as long as this thread waits. Delivered now, it
    // changes nothing (see SetPos and SetText) and lets the worker go on.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    std::this_thread::sleep_for(kDeliveryInterval);
  }
}

void CUPDialog::Cleanup() {
  m_context.bTerminate.store(true);
  if (m_hThread.joinable()) {
    WaitForWorker(-1);
    m_hThread.join();
  }
  m_context.bRunning.store(false);
  m_context.bTerminate.store(false);
  m_context.hDlg = nullptr;
}

void CUPDialog::CallOnUiThread(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, fn, Qt::BlockingQueuedConnection);
}

void CUPDialog::SetPos(uint32_t percent) {
  CallOnUiThread([this, percent] {
    if (m_bOpen.load() && !m_context.bTerminate.load()) {
      m_progress->setValue(static_cast<int>(std::min<uint32_t>(percent, 100)));
    }
  });
}

void CUPDialog::SetText(const std::string& text) {
  const QString status = QString::fromStdString(text);
  CallOnUiThread([this, status] {
    if (m_bOpen.load() && !m_context.bTerminate.load()) ShowStatus(status);
  });
}

void CUPDialog::ShowStatus(const QString& text) {
  m_status->setText(text);
  // The termination waits hold the event loop; paint the text now.
  if (m_status->isVisible()) m_status->repaint();
  emit statusChanged(text);
}

QString CUPDialog::StatusText() const { return m_status->text(); }

int CUPDialog::Position() const { return m_progress->value(); }

}  // namespace kestrune::ui
