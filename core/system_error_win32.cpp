#include "core/system_error.h"

#include <windows.h>

#include <cstring>

#include "core/i18n.h"

std::string systemErrorText(int code)
{
    // Wide text, so the message survives in any system language and becomes
    // UTF-8 like every other text of the program.
    // English messages want the system's reason in English too, where Windows
    // has it; otherwise the system's language.
    const char* language = i18n::chosenLanguage();
    const bool english = language && std::strcmp(language, "en") == 0;
    wchar_t* wide = nullptr;
    DWORD n = 0;
    for (DWORD languageId : {english ? MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US) : 0, 0}) {
        n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           /*lpSource=*/nullptr, DWORD(code), languageId,
                           reinterpret_cast<wchar_t*>(&wide), 0, /*Arguments=*/nullptr);
        if (n > 0 || languageId == 0)
            break;
    }
    std::string text;
    if (n > 0 && wide) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, int(n), nullptr, 0, nullptr, nullptr);
        text.resize(size_t(bytes > 0 ? bytes : 0));
        if (bytes > 0)
            WideCharToMultiByte(CP_UTF8, 0, wide, int(n), &text[0], bytes, nullptr, nullptr);
    }
    if (wide)
        LocalFree(wide);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}
