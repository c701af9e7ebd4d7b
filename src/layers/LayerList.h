// The open layers of the process, newest first, with what works over all of
// them (drawing, bounds, names, notes, totals) and the per-layer tools the main
// window's commands open: notes beside the shape file, the "Show Me" filter
// mask rules, summary totals, and selection by rectangle or click on the
// active layer. The list signals when its layers come, go or change order,
// and passes on what each of its layers signals, so a view connects once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <QObject>

#include "layers/FileSummary.h"
#include "layers/Layer.h"
#include "geo/MapPoint.h"

namespace kestrune {

class Canvas;
class CMapTransform;

// The notes save failure. It is shown untranslated: it has no text id.
constexpr const char* kMsgCannotSaveNotes = "Unable to save notes to file.";
// The title of the notes' message boxes: the edition's name and "Notes".
constexpr const char* kMsgNotesCaptionFormat = "#20100010:%s Notes";
std::string NotesCaption();
// Separator of the notes of several layers.
constexpr const char* kNotesSeparator = "\r\n";

class LayerList : public QObject {
  Q_OBJECT
 public:
  LayerList();
  // Removes every layer (writing changed legends). The window level calls
  // RemoveAll first to show what could not be saved.
  ~LayerList();
  LayerList(const LayerList&) = delete;
  LayerList& operator=(const LayerList&) = delete;

  // Opens path as a new layer: with mustExist a missing file gives none; a file
  // whose header is refused or that fails to load gives none; a missing file
  // otherwise gives an empty layer. Linked at the head unless atTail. The
  // refusal of a file, and what its load found wrong beside it, go to errors
  // when given, for the caller to show. The load runs in the calling thread;
  // the viewer's window loads through a LayerLoader instead.
  Layer* AddLayer(const std::string& path, bool mustExist = false,
                  bool atTail = false, std::vector<Error>* errors = nullptr);
  // Takes a layer loaded elsewhere (a LayerLoader's) and links it in, at the
  // head unless atTail.
  Layer* Adopt(Layer* layer, bool atTail = false);
  // Writes the layer's legend and closes it; with unlinkAndDelete it also
  // leaves the list and is destroyed. A failed legend save is given in error.
  void RemoveLayer(Layer* layer, bool unlinkAndDelete, Error* error = nullptr);
  // Removes every layer; errors gets one error per failed legend save.
  void RemoveAll(std::vector<Error>* errors = nullptr);

  int GetCount() const { return static_cast<int>(layers_.size()); }
  // The layers, head (newest) first.
  const std::vector<Layer*>& Layers() const { return layers_; }
  Layer* Head() const { return layers_.empty() ? nullptr : layers_.front(); }

  // Puts the layers in a new order, head (drawn last, on top) first; false,
  // changing nothing, unless order holds exactly the layers of the list.
  bool SetOrder(const std::vector<Layer*>& order);

  // Draws every layer but the hidden ones, oldest first, so the newest lies on top.
  void DrawAll(Canvas& dc, const CMapTransform& transform);
  // The union of the layers' bounds; right and bottom start from 0.
  MapRect GetBounds() const;
  // Every layer's non-empty notes, newest first, separated by CR LF.
  std::string GatherNotes() const;
  // The file names without extensions, newest first, joined by ", ".
  const std::string& GetNamesText();
  // Adds up the layers' field areas and volumes per product slot; the date is
  // the earliest of the layers', the times run from the earliest start to the
  // latest end.
  const FileSummary& ComputeTotals();
  const FileSummary& GetTotals() const { return totals_; }
  // The Summary Totals texts ("%.2lf") of the head layer's product slot.
  void GetTotalsTexts(std::string& area, std::string& volume);

  // The layer the layers window shows as active (null for none).
  void SetActiveLayer(Layer* layer) { active_ = layer; }
  Layer* GetActiveLayer() const { return active_; }

  // Selects the active layer's records wholly inside the rectangle (for a
  // one-point rectangle, the record hit there); without extend the old
  // selection goes first, with extend and nothing found it stays. True when
  // anything was found. An area found brings the other parcels of its record
  // number with it. A hidden layer finds nothing and keeps its selection.
  bool SelectInRect(const MapRect& rect, bool extend) { return SelectInRect(active_, rect, extend); }
  static bool SelectInRect(Layer* layer, const MapRect& rect, bool extend);
  // The active layer's best record at a map point, or none.
  Shape* HitTestPoint(const MapPoint& point) const {
    return active_ && !active_->IsHidden() ? active_->HitTestPoint(point) : nullptr;
  }


 signals:
  // Layers came, went or changed order.
  void layersChanged();
  // What a layer of the list signalled (see Layer).
  void recordsSelected(kestrune::Layer* layer, const std::vector<kestrune::Shape*>& records);
  void selectionChanged(kestrune::Layer* layer);
  void repaintRequested(kestrune::MapRect area);

 private:
  std::vector<Layer*> layers_;  // head first
  FileSummary totals_;
  std::string namesText_;
  Layer* active_ = nullptr;
};


// ---- Notes, kept in the ".txt" beside the shape file.

// The whole notes file, up to its first zero byte; empty (false) when there is
// none. Only a regular file of at most kMaxNotesFileBytes is read: a pipe or a
// device counts as no notes, and a file too large or unreadable gives false
// with the reason in refusal (when given), so an editor must not replace it.
bool LoadNotes(const Layer& layer, std::string& text, std::string* refusal = nullptr);
// Replaces the notes file with the text through the safe-write path, whole or
// not at all: on failure the old notes stay, false is returned and error
// (when given) tells the file's name and the reason.
bool SaveNotes(const Layer& layer, const std::string& text, Error* error = nullptr);

// ---- The "Show Me" dialog's choices and the filter mask.

struct ShowMeChoices {
  int boom = 0;  // 0 booms on only, 1 booms off only, 2 no boom filter
  int rate = 0;  // 0 rates above zero, 1 zero rates only, 2 no rate filter
  bool shadows = false;
  friend bool operator==(const ShowMeChoices& a, const ShowMeChoices& b) {
    return a.boom == b.boom && a.rate == b.rate && a.shadows == b.shadows;
  }
};

// The choices the dialog starts with for a mask.
ShowMeChoices ShowMeChoicesFromMask(int mask);
// The mask the dialog's OK makes of its choices.
int ShowMeMaskFromChoices(const ShowMeChoices& choices);

// Whether the Summary Totals command applies to the layer: its product slot is
// one of the ten and both its area and volume are known there.
bool CanShowTotals(const Layer* layer);

}  // namespace kestrune
