#include "app/gui/AboutDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Commands.h"
#include "base/gui/AppResources.h"

namespace kestrune {

// The picture above an OK button; texts translated when shown.
CAboutDlg::CAboutDlg(int templateId, QWidget* parent)
    : CLangDialog(templateId, parent), picture_(new QLabel(this)), ok_(new QPushButton(this)) {
  setWindowTitle("#10285:About");
  ok_->setText("#10286:OK");
  ok_->setDefault(true);
  ok_->setObjectName("IDOK");
  picture_->setPixmap(AppBitmap(templateId == kVantrelAboutDialogId ? kVantrelBitmapId : kSplashBitmapId));
  picture_->setAlignment(Qt::AlignCenter);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(picture_);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kestrune
