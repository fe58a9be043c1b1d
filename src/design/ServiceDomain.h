#pragma once

// The service's bare domain, as a user would type it. A macro so that it can be
// joined to string literals at compile time: the translation keys, their
// translations and the callers all spell the same text.
#define ZEPHYL_SERVICE_DOMAIN "sorvane.app"
#define ZEPHYL_SERVICE_ORIGIN "https://www." ZEPHYL_SERVICE_DOMAIN
