// The print program's texts in the operator's language.  It learns the
// language as the job does: the session's files named by the environment
// (JOBTMP's TarnTerm.ini, else JOBROOT's Tarn.ini), and translates through
// the job's message catalogue.  Texts are Catalan code page 850 literals.
#pragma once

#include <string>
#include <string_view>

namespace kestrova::jobprint {

// Reads the session (once per run) and the catalogue of the session
// language.  Never fails: without a session the texts stay Catalan.
void LoadPrintSession();

// A Catalan text in the session language (code page 850 both ways).
std::string Say(std::string_view catalan);

// Forgets the catalogue read (tests).
void ResetPrintSessionForTesting();

}  // namespace kestrova::jobprint
