#include "web/WebSchemes.h"

#include "services/auth/WebAuthDialog.h"
#include "web/WebRules.h"
#include "web/WebWorkspace.h"

namespace WebSchemes {

void registerAll()
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", WebRules::engineSwitches(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
    WebWorkspace::registerSchemes();
    WebAuthDialog::registerCallbackScheme();
}

} // namespace WebSchemes
