#include "services/TlsLibrary.h"

#include <openssl/crypto.h>

void TlsLibrary::leaveCleanupToTheSystem()
{
    // Only the first initialisation decides; Qt's TLS backend comes later.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}
