#include "core/message_locale.h"

#include <cstdlib>

std::string messageLocaleFromEnvironment()
{
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return "";
}
