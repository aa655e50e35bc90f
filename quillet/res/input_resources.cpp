// Dialog templates and menus of the input screens.
#include "quillet/res/resources.h"

void RegisterInputResources() {}
