#include "ui/app_icon.h"

// The built-in resources live in this static library; the program and the
// tests register them once.
static void RegisterResources() { Q_INIT_RESOURCE(kestrune); }

namespace kestrune::ui {

QIcon AppIcon() {
  static const bool registered = (RegisterResources(), true);
  (void)registered;
  return QIcon::fromTheme(QStringLiteral("kestrune"), QIcon(QStringLiteral(":/kestrune/kestrune.png")));
}

}  // namespace kestrune::ui
