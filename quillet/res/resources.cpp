// Registration of the main program's resources.
#include "quillet/res/resources.h"

#include <mutex>

void RegisterQuilletImages();

void RegisterQuilletResources() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterQuilletImages(); });
}
