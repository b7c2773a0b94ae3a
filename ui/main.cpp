// kestrune: the desktop program.
#include "ui/tamberly_app.h"

int main(int argc, char** argv) {
  kestrune::ui::CTamberlyApp app(argc, argv);
  app.InitInstance();
  return 0;
}
