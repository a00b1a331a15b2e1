#pragma once
// Ctrl-C during a transfer. The first interrupt (SIGINT or SIGTERM on POSIX, a
// console control event on Windows) asks the run to stop after the exchange in
// flight: no new track or bank is started, the agent gets its end command and
// the run ends with status 1. A second one ends the run at once: the port
// layer gives up its wait and the run unwinds, closing the port. Nothing else
// is done in the handler.
namespace interrupts {

// Installs the handlers; called once by the run flow, never by tests.
void install();
// True once an interrupt has come: start nothing new.
bool stopRequested();
// True once a second interrupt has come: give up waits at once.
bool abortRequested();
// Counts one interrupt as the handler would (for tests).
void raiseForTest();
// Forgets interrupts (for tests).
void reset();

} // namespace interrupts
