#include "web/WebSchemes.h"

#include "services/auth/WebAuthDialog.h"
#include "web/WebWorkspace.h"

namespace WebSchemes {

void registerAll()
{
    WebWorkspace::registerSchemes();
    WebAuthDialog::registerCallbackScheme();
}

} // namespace WebSchemes
