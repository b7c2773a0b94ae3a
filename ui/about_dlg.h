// "About Kestrune": the program's name and version.
#pragma once

#include <QDialog>

namespace kestrune::ui {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace kestrune::ui
