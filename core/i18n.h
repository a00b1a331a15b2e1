#pragma once
// Translatable text. Messages are written in Japanese, the program's source
// language; tr() gives the text to print in the language chosen at start (the
// Japanese itself, or its line from the built-in catalogue). xgettext extracts
// every literal passed to tr() or N_().
//
//   console::err(tr("ポートを開けません: %s\n"), device);
//   static const char* const kNames[] = {N_("読み込み"), ...};  // tr(kNames[i]) at use

#include <cstddef>

#if defined(__GNUC__)
#define FERRY2_FORMAT_ARG(n) __attribute__((format_arg(n)))
#else
#define FERRY2_FORMAT_ARG(n)
#endif

// Marks a literal for extraction where it cannot be translated yet (tables).
#define N_(text) text

const char* tr(const char* msgid) FERRY2_FORMAT_ARG(1);

namespace i18n {

struct Entry {
    const char* msgid;   // the Japanese source text
    const char* msgstr;  // its translation
};

// One language's messages, built from po/<language>.po (see cmake/po_catalogue.cmake).
struct Catalogue {
    const char* language;  // "en": the PO file's name
    const Entry* entries;
    size_t count;
};

// Every built-in catalogue, in the order of their file names.
extern const Catalogue kCatalogues[];
extern const size_t kCatalogueCount;

// The catalogue a locale value chooses ("en_US.UTF-8", a LANGUAGE list
// "de:en"), or nullptr for the Japanese source text: a value beginning with
// "ja", the C and POSIX locales and an empty value keep the Japanese; a
// language with a catalogue gets it; any other language gets English.
const Catalogue* catalogueFor(const char* locale);

// The translation of msgid in catalogue, or nullptr when it has none.
const char* lookUp(const Catalogue& catalogue, const char* msgid);

// The language tr() prints in ("en"), or nullptr for the Japanese source text.
const char* chosenLanguage();

} // namespace i18n
