#include "app/gui/LayerDialogs.h"

namespace kestrune {

LayerDialogOpeners& GetLayerDialogOpeners() {
  static LayerDialogOpeners openers;
  return openers;
}

}  // namespace kestrune
