#include "helper/SketchHelper.h"

namespace vrk {

// Placeholder until the plug-in hand-off lands.
bool SketchHelper::ManagePluginSketch(const char*, const char*) {
  return false;
}

}  // namespace vrk
