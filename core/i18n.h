#pragma once
// Translatable text. Messages are written in Japanese, the program's source
// language; tr() gives the text to print in the language chosen at start (the
// Japanese itself, or its line from the built-in catalogue). xgettext extracts
// every literal passed to tr() or N_().
//
//   console::err(tr("ポートを開けません: %s\n"), device);
//   static const char* const kNames[] = {N_("読み込み"), ...};  // tr(kNames[i]) at use

#if defined(__GNUC__)
#define FERRY2_FORMAT_ARG(n) __attribute__((format_arg(n)))
#else
#define FERRY2_FORMAT_ARG(n)
#endif

// Marks a literal for extraction where it cannot be translated yet (tables).
#define N_(text) text

const char* tr(const char* msgid) FERRY2_FORMAT_ARG(1);
