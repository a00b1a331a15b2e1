#pragma once
// Where the user's message language comes from, for i18n::catalogueFor().
#include <string>

// The first of LANGUAGE, LC_ALL, LC_MESSAGES and LANG that is set and not
// empty. Without any: "" on POSIX (the C locale); on Windows the user's UI
// language, "ja" or "en".
std::string messageLocale();

// The environment's part of it, shared by both platforms: "" when no variable is set.
std::string messageLocaleFromEnvironment();
