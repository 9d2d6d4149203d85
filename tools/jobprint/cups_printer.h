// Printing on a CUPS queue.  The queue gets the PDF rendering (the pages as
// the PDF output shows them: condensed report pages landscape, letters
// portrait, attributes kept), through the standard client `lp`, with a job
// title that says what it is.  A queue marked as taking text only (a raw
// queue in front of a line printer) gets the text rendering instead.
#pragma once

#include <string>
#include <vector>

namespace kestrova::jobprint {

// What an office sets for its printer, from the installation: section
// [Impressora] of the workstation's TarnTerm.ini, else of the suite's
// Tarn.ini (keys "Paper", "Copies", "DobleCara", "NomesText").
struct PrinterSettings {
  std::string paper = "A4";         // CUPS media name
  int copies = 1;                   // 1 to 99
  bool duplexLetters = true;        // letters on both sides when the queue can
  bool textOnly = false;            // the queue takes plain text only
};

// The settings of the session (LoadPrintSession first).
PrinterSettings ReadPrinterSettings();

// A program's exit code and what it wrote on its standard output and error.
struct ProgramOutput {
  int code = -1;                    // -1: it could not be started
  std::string output;
};

// Runs a program found on PATH with the C locale (its messages are read)
// and collects its output.
ProgramOutput RunAndCollect(const std::string& program, const std::vector<std::string>& arguments);

// What `lpstat -r` (the scheduler) and `lpstat -p QUEUE` answered, as a
// reason not to print (code page 850, session language), or empty when the
// queue is there and not stopped.
std::string QueueProblem(const std::string& queue, const ProgramOutput& scheduler, const ProgramOutput& lpstat);

// Whether what lpoptions says of a queue offers two-sided printing: the
// duplex bit (0x0010) of the printer-type that `lpoptions -p QUEUE` lists,
// or a two-sided choice among the driver's options of `lpoptions -p QUEUE
// -l`.  The first is the server's own answer and comes over any connection;
// the second needs the queue's PPD, which the client cannot fetch from a
// server it reaches through a local socket (a CUPS_SERVER path).
bool QueueHasDuplex(const std::string& lpoptions);

// The `lp` arguments for a file.
std::vector<std::string> LpArguments(const std::string& queue, const std::string& title, const PrinterSettings& settings,
                                     bool duplex, bool text, const std::string& file);

// Prints the script on the queue.  `workDirectory` (ending with "/") holds
// the rendering while it is handed over.  Returns an empty text, or the
// reason it was not printed (code page 850, session language).
std::string PrintOnQueue(const std::string& scriptPath, const std::string& queue, const std::string& workDirectory);

}  // namespace kestrova::jobprint
