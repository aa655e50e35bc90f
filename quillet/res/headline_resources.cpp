// Dialog templates and menus of the headline screens.
#include "quillet/res/resources.h"

void RegisterHeadlineResources() {}
