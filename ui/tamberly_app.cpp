#include "ui/tamberly_app.h"

#include "common/version.h"
#include "ui/app_icon.h"
#include "ui/launchers.h"
#include "ui/tamberly_dlg.h"
#include "ui/user_prompts.h"

namespace kestrune::ui {

CTamberlyApp::CTamberlyApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(kAppTitle);
  setApplicationVersion(QString::fromUtf8(kVersion));
  setDesktopFileName(QStringLiteral("kestrune"));
  setWindowIcon(AppIcon());
}

bool CTamberlyApp::InitInstance() {
  QtUserPrompts prompts;
  CoreLaunchers launchers(prompts);
  CTamberlyDlg dialog(prompts, launchers);
  dialog.exec();
  return false;
}

}  // namespace kestrune::ui
