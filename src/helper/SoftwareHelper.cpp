#include "helper/SoftwareHelper.h"

#include <stdexcept>

namespace vrk {

// Placeholders until host scripting lands.
namespace {
[[noreturn]] void NotYet() {
  throw std::logic_error("not available yet");
}
}  // namespace

void SoftwareHelper::SetSoftwareFont(Json&, const char*, const char*, const char*, const char*,
                                     const char*) {
  NotYet();
}
void SoftwareHelper::SetSoftwareBatchFonts(Json&, const char*, const char*) {
  NotYet();
}
void SoftwareHelper::SetSoftwareDoJs(Json&, const char*, const char*, const char*) {
  NotYet();
}
Json SoftwareHelper::SetSoftwareDoJsByAppName(const char*, const char*, const char*) {
  NotYet();
}
std::string SoftwareHelper::GetSoftwareFilePath(const char*) {
  NotYet();
}
void SoftwareHelper::GetSoftwareFileFonts(Json&, const char*) {
  NotYet();
}

}  // namespace vrk
