#include "quillet/screens/reader_app.h"

#include "common/settings.h"

CReaderApp::CReaderApp() : CWinApp(QUILLET_REGISTRY_APP) { SetRegistryKey(QUILLET_REGISTRY_COMPANY); }

CReaderApp::~CReaderApp() = default;
