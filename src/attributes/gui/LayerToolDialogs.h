// The dialogs of the layer list's commands: the notes of a layer, the "Show
// Me" filter and the summary totals over all files.
#pragma once

#include <functional>
#include <string>

#include <QString>

#include "lang/gui/LangWidgets.h"

class QWidget;

namespace kestrune {

class Layer;
class LayerList;

// ---- Notes

constexpr int kNotesDialogId = 154;
constexpr int kIdNotesEdit = 1052;
constexpr const char* kNotesTitle = "#10322:Notes";

// How a notes file's bytes became the text shown, so the text goes back the
// same way: UTF-8 unless the bytes were not UTF-8 (older notes in a Windows
// code page, read as Latin-1), and CR LF line ends when the file had them.
struct NotesEncoding {
  bool latin1 = false;
  bool crlf = false;
};
QString NotesTextFromBytes(const std::string& bytes, NotesEncoding& encoding);
std::string NotesBytesFromText(const QString& text, const NotesEncoding& encoding);

class CNotesDialog : public CLangDialog {
  Q_OBJECT
 public:
  // Saves the text; false keeps the dialog open.
  using Saver = std::function<bool(const QString& text)>;
  // Edits text (the caller's); OK moves the edit's text into it and, with a
  // saver, closes only once the saver succeeded.
  CNotesDialog(QString& text, QWidget* parent = nullptr, Saver saver = {});

  // The edit's whole text, line ends as "\n".
  QString EditText() const;

 protected:
  void OnInitDialog() override;
  void accept() override;

 private:
  QString& text_;
  Saver saver_;
};

// Opens the layer's notes in the Notes dialog and saves them on OK. A notes
// file that cannot be written is reported and the dialog stays open with the
// typed text. True when the notes were saved.
bool EditNotes(Layer& layer, QWidget* parent = nullptr);

// ---- Show Me

constexpr int kShowMeDialogId = 153;
constexpr int kIdBoomOnOnly = 1045;
constexpr int kIdBoomOffOnly = 1046;
constexpr int kIdBoomAny = 1047;
constexpr int kIdRateAboveZero = 1048;
constexpr int kIdRateZeroOnly = 1049;
constexpr int kIdRateAny = 1050;
constexpr int kIdShadows = 1051;
constexpr int kIdBoomGroup = 1053;
constexpr int kIdRateGroup = 1054;
constexpr const char* kShowMeTitle = "#10310:Show Me";
// Tips on a group disabled for want of its field.
constexpr const char* kTipNoBoomField = "#20012030:This file has no boom field (Display Settings, Log fields).";
constexpr const char* kTipNoRateField = "#20012031:This file has no rate field (Display Settings, Log fields).";

class CShowMeDialog : public CLangDialog {
  Q_OBJECT
 public:
  // Starts from *mask; OK writes the mask of the choices back into it. The boom
  // choices are disabled for a layer without a boom field, the rate choices
  // for one without a rate field.
  CShowMeDialog(int& mask, QWidget* parent = nullptr, bool boomField = true, bool rateField = true);

 protected:
  void OnInitDialog() override;
  void accept() override;

 private:
  int& mask_;
  bool boomField_ = true;
  bool rateField_ = true;
};

// Runs Show Me on a copy of the layer's filter mask; however it ends, the layer
// takes the copy (unchanged on Cancel), filters its records and the map is
// repainted. Returns the dialog's result.
int ShowFilterDialog(Layer& layer, QWidget* parent = nullptr);

// ---- Total summary

constexpr int kTotalSummaryDialogId = 150;
constexpr int kIdTotalArea = 1024;
constexpr int kIdTotalVolume = 1025;
constexpr const char* kTotalSummaryTitle = "#10287:Total Summary Information";

class CTotalSummaryDialog : public CLangDialog {
  Q_OBJECT
 public:
  CTotalSummaryDialog(const QString& area, const QString& volume, QWidget* parent = nullptr);

 protected:
  void OnInitDialog() override;
};

// Adds up the open files' field areas and volumes and shows those of the
// newest file's product slot.
void ShowTotals(LayerList& list, QWidget* parent = nullptr);

}  // namespace kestrune
