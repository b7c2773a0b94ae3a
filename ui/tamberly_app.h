// The application: sets up Qt, runs the main dialog modally and ends when it
// closes. It takes no command line of its own and stores no settings.
#pragma once

#include <QApplication>

namespace kestrune::ui {

class CTamberlyApp : public QApplication {
  Q_OBJECT

 public:
  CTamberlyApp(int& argc, char** argv);
  // Runs the main dialog; returns false, which ends the program.
  bool InitInstance();
};

}  // namespace kestrune::ui
