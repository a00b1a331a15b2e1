#include "core/message_locale.h"

std::string messageLocaleFromEnvironment();

std::string messageLocale()
{
    return messageLocaleFromEnvironment();
}
