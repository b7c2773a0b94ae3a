// The program's icon.
#pragma once

#include <QIcon>

namespace kestrune::ui {

// The installed theme icon "kestrune" when there is one, else the copy built
// into the program.
QIcon AppIcon();

}  // namespace kestrune::ui
