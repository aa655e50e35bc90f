// Dialog templates and menus of the reading screens.
#include "quillet/res/resources.h"

void RegisterReadingResources() {}
