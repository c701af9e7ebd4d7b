#include "app/gui/UndoCommand.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "app/gui/MainFrame.h"
#include "attributes/AttributeUndo.h"
#include "attributes/LayerTable.h"
#include "base/Platform.h"
#include "lang/LangString.h"
#include "lang/gui/LangWidgets.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "mapview/gui/LayerTablePanel.h"

namespace kestrune {

void InstallUndoCommand(CMainFrame& frame) {
  QMenuBar* bar = frame.menuBar();
  auto* menu = new QMenu(LangQString(kEditMenuText), bar);
  menu->setObjectName(QStringLiteral("EditMenu"));
  QAction* undo = menu->addAction(LangQString(kUndoMenuText));
  undo->setObjectName(QStringLiteral("EditUndo"));
  QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Undo);
  if (!keys.contains(QKeySequence(Qt::CTRL | Qt::Key_Z))) keys << QKeySequence(Qt::CTRL | Qt::Key_Z);
  undo->setShortcuts(keys);
  QObject::connect(undo, &QAction::triggered, &frame, [&frame] { UndoLastAttributeEdit(frame); });
  QObject::connect(menu, &QMenu::aboutToShow, undo, [undo] { undo->setEnabled(!GetAttributeUndo().IsEmpty()); });
  const QList<QAction*> menus = bar->actions();
  bar->insertMenu(menus.size() > 1 ? menus[1] : nullptr, menu);
}

bool UndoLastAttributeEdit(CMainFrame& frame) {
  AttributeUndo& edits = GetAttributeUndo();
  if (edits.IsEmpty()) {
    Beep();
    return false;
  }
  RowBefore undone;
  std::string message;
  if (!edits.UndoNewest(undone, message)) {
    ShowMessage(message, LangText(kUndoCaption), MessageIcon::Warning);
    return false;
  }
  RefreshLayerTables();
  // The files of that table reread the record's value and show it selected.
  for (Layer* layer : frame.Layers().Layers()) {
    if (layer->GetTablePath() != undone.dbfPath || layer->IsLoading()) continue;
    const std::vector<Shape*> shapes = RecordsByNumber(*layer, {undone.record});
    if (shapes.empty()) continue;
    layer->ClearSelection();
    layer->SelectRecords(shapes);
    layer->RereadSelectedRecord();
  }
  return true;
}

}  // namespace kestrune
