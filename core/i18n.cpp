#include "core/i18n.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/message_locale.h"

namespace i18n {

const Catalogue* catalogueFor(const char* locale)
{
    std::string value = locale ? locale : "";
    // LANGUAGE is a list of preferences; its first one is the choice.
    value = value.substr(0, value.find(':'));
    if (value.empty() || value == "C" || value == "POSIX" || value.compare(0, 2, "C.") == 0 ||
        value.compare(0, 2, "ja") == 0)
        return nullptr;
    const std::string language = value.substr(0, value.find_first_of("_.@-"));
    const Catalogue* english = nullptr;
    for (size_t i = 0; i < kCatalogueCount; ++i) {
        if (language == kCatalogues[i].language)
            return &kCatalogues[i];
        if (std::strcmp(kCatalogues[i].language, "en") == 0)
            english = &kCatalogues[i];
    }
    return english;
}

const char* lookUp(const Catalogue& catalogue, const char* msgid)
{
    for (size_t i = 0; i < catalogue.count; ++i)
        if (std::strcmp(catalogue.entries[i].msgid, msgid) == 0)
            return catalogue.entries[i].msgstr;
    return nullptr;
}

} // namespace i18n

namespace {

bool lessId(const i18n::Entry* a, const i18n::Entry* b)
{
    return std::strcmp(a->msgid, b->msgid) < 0;
}

// The chosen catalogue and its entries sorted by msgid, made on the first use.
struct Chosen {
    const i18n::Catalogue* catalogue = nullptr;
    std::vector<const i18n::Entry*> sorted;

    Chosen()
    {
        const std::string locale = messageLocale();
        catalogue = i18n::catalogueFor(locale.c_str());
        if (!catalogue)
            return;
        for (size_t i = 0; i < catalogue->count; ++i)
            sorted.push_back(&catalogue->entries[i]);
        std::sort(sorted.begin(), sorted.end(), lessId);
    }
};

const Chosen& chosen()
{
    static const Chosen once;
    return once;
}

} // namespace

const char* i18n::chosenLanguage()
{
    return chosen().catalogue ? chosen().catalogue->language : nullptr;
}

const char* tr(const char* msgid)
{
    const Chosen& chosen = ::chosen();
    if (chosen.sorted.empty())
        return msgid;
    const i18n::Entry key{msgid, nullptr};
    auto it = std::lower_bound(chosen.sorted.begin(), chosen.sorted.end(), &key, lessId);
    if (it != chosen.sorted.end() && std::strcmp((*it)->msgid, msgid) == 0 && *(*it)->msgstr)
        return (*it)->msgstr;
    return msgid;
}
