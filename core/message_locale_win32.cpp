#include "core/message_locale.h"

#include <windows.h>

std::string messageLocale()
{
    std::string value = messageLocaleFromEnvironment();
    if (!value.empty())
        return value;
    // A Windows user sets no locale variables; the display language says it.
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? "ja" : "en";
}
