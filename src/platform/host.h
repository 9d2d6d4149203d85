// Environment, computer name, other programs, and the ways the process ends.
//
// Modules that must put something right before the process ends (the
// terminal backend restores the user's terminal, the record layer releases
// its files) register an exit hook.  EndProcess and FatalError run the hooks,
// last registered first, before the process exits, so every exit path leaves
// the terminal as it was found.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// The value of an environment variable in code page 850, empty when unset.
std::string GetEnvironment(std::string_view name);

// The computer's name as the system reports it, cut to 16 characters (the
// 17-character buffer the suite has always used), empty when the call fails.
std::string ComputerName();

// Runs a program (native path) with its arguments and waits for it to end.
// Returns its exit code, or -1 when it could not be started or was killed.
int RunProgramAndWait(const std::string& program, const std::vector<std::string>& arguments);

// From a signal handler that is about to end the process: asks the program
// RunProgramAndWait is waiting for (if any) to end with SIGTERM, waits a
// moment for it, then kills it, so that no child is left behind holding the
// terminal.  Async-signal-safe.
void EndWaitedProgram();

// Runs a command line through /bin/sh -c (where the job would have used the
// Windows command interpreter) and waits.  Exit code or -1.
int RunCommandAndWait(const std::string& commandLine);

// Registers a routine to run when the process ends through EndProcess or
// FatalError.  Hooks run once, last registered first.
void RegisterExitHook(void (*hook)());

// Runs the exit hooks now (used by the signal handlers before they re-raise).
void RunExitHooks();

// Ends the process with the exit code, after the exit hooks.
[[noreturn]] void EndProcess(int exitCode);

// Ends the job on an error that no routine handles: runs the exit hooks (the
// terminal is restored first), writes "kestrova: <file>: <problem>" to the
// standard error, and exits with code 2.  `file` may be empty.  Both texts
// are in code page 850.
[[noreturn]] void FatalError(std::string_view file, std::string_view problem);

// The exit code FatalError uses.
inline constexpr int kFatalExitCode = 2;

}  // namespace kestrova
