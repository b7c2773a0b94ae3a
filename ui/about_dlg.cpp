#include "ui/about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "common/version.h"
#include "ui/app_icon.h"

namespace kestrune::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Kestrune"));

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(48, 48));
  auto* name = new QLabel(QStringLiteral("Kestrune ") + QString::fromUtf8(kVersion), this);
  name->setObjectName("name");
  auto* about = new QLabel(
      QStringLiteral("Finds the stretches of a recording that sound like\na piece of another, and writes them out."),
      this);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(name, 0, 1);
  layout->addWidget(about, 1, 1);
  layout->addWidget(buttons, 2, 0, 1, 2);
  layout->setHorizontalSpacing(16);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kestrune::ui
