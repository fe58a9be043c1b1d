#include "services/auth/WebSchemes.h"

#include "services/auth/WebAuthDialog.h"
#include "services/web/WebWorkspace.h"

namespace WebSchemes {

void registerAll()
{
    WebWorkspace::registerSchemes();
    WebAuthDialog::registerCallbackScheme();
}

} // namespace WebSchemes
