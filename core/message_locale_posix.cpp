#include "core/message_locale.h"

std::string messageLocale()
{
    return messageLocaleFromEnvironment();
}
