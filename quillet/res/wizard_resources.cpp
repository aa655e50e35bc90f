// Dialog templates and menus of the wizard screens.
#include "quillet/res/resources.h"

void RegisterWizardResources() {}
