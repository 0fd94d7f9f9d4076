#include "helper/AdobeXDHelper.h"

namespace vrk {

// Placeholder until the plug-in hand-off lands.
int AdobeXDHelper::ManagePluginAdobeXDSetFont(const char*) {
  return 0;
}

}  // namespace vrk
