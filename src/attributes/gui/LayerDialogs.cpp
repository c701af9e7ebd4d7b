#include "attributes/gui/LayerDialogs.h"

namespace kestrune {

// The one set of openers of the process.
LayerDialogOpeners& GetLayerDialogOpeners() {
  static LayerDialogOpeners openers;
  return openers;
}

}  // namespace kestrune
