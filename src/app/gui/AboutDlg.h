// The About dialog: dialog 100 with picture 146 for the viewer, dialog 155
// with picture 157 for the Vantrel edition; title and button translated.
#pragma once

#include "lang/gui/LangWidgets.h"

class QLabel;
class QPushButton;

namespace kestrune {

class CAboutDlg : public CLangDialog {
  Q_OBJECT
 public:
  // templateId is kAboutDialogId or kVantrelAboutDialogId.
  explicit CAboutDlg(int templateId, QWidget* parent = nullptr);

  QLabel* PictureLabel() const { return picture_; }
  QPushButton* OkButton() const { return ok_; }

 private:
  QLabel* picture_;
  QPushButton* ok_;
};

}  // namespace kestrune
