#include "helper/FontHelper.h"

#include <stdexcept>

#include "extension/NSStringEx.h"

namespace vrk {

// Placeholders until the font subsystem lands.
std::string FontHelper::RegisterFont(const char*) {
  throw std::logic_error("not available yet");
}
std::string FontHelper::UnRegisterFont(const char*) {
  throw std::logic_error("not available yet");
}
bool FontHelper::FontIsRegistered(const char*, const char*, const char*) {
  return false;
}
std::string FontHelper::FindFont(const char*, const char*) {
  throw std::logic_error("not available yet");
}
char* FontHelper::GetAvailableFonts() {
  return ConstantEmptyString();
}

}  // namespace vrk
