#pragma once
// The locale identifier of the user-interface thread, as the platform gives it.

#include <cstdint>

// The identifier (1053 Swedish in Sweden, 2077 Swedish in Finland, 1033 English in the United
// States...). On POSIX systems from LC_ALL, LC_MESSAGES or LANG (unset, C or POSIX: 1033, other
// unknown names too); on Windows the thread locale itself.
int32_t ThreadLocaleId();
