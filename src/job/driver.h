// The job driver: the whole life of the rent-revision job, from the menu
// program's start to the end of the process.
#pragma once

#include <string>

namespace kestrova {

// The program's entry: "--check", "--version", "--help", or the job itself.
// Returns the process exit code for the options; the job ends the process.
int JobMain(int argc, char** argv);

// The job: session, current directory, form, defaults, then the run.  Does
// not return: ends through CloseJob with exit code 0.
[[noreturn]] void RunJob();

// Steps 2 to 6 of the job, shared with the installation check: loads the
// session, makes JOBROOT the current directory, names the job, loads the
// form and gives screen 1 its defaults.  Ends the job through FatalError
// when the form cannot be loaded.
void PrepareJob();

// Puts the defaults of the revision form into screen 1.
void PlaceScreenOneDefaults();

// Releases the record manager and the files, then ends the process with
// exit code 0.
[[noreturn]] void CloseJob();

// The installation check: what the job would find, one "key: value" line
// each, in UTF-8.  Exit code 0 when the form loaded and every data file
// opened, 1 when a data file did not.
int RunInstallationCheck();

// The lines of the installation check for the state now in memory.
std::string InstallationReport();

// One line per data file of the job: "file.NNN: <path> status <n> records
// <count>", each file opened (not created) and released again.  allOpen is
// false when a file does not open.
std::string DataFileReport(bool& allOpen);

}  // namespace kestrova
