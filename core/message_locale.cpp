#include "core/message_locale.h"

#include <cstdlib>

// Shared by both platforms: the environment decides when it says anything.
std::string messageLocaleFromEnvironment()
{
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return "";
}
