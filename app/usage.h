#pragma once

// "Ferrybox 2.06", the notice line and an empty line.
void printBanner();
// The usage text, then exit with status 1 (streams flushed; objects of the run
// are not destroyed, the system closes their handles).
[[noreturn]] void usageExit();
// "Ferrybox 2.06" alone: the banner's first line, for --version.
void printVersion();
// The usage text alone (for tests).
const char* usageText();
