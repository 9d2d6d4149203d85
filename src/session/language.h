// The session language and the message catalogue.
//
// Texts of the form and of the revision's messages and reports are written
// in Catalan and translated at run time through the job's catalogue,
// JOBROOT + "LOCALE\" + JobName + ".LNG": records of four text items read by
// the list-input rules (session/list_input.h), in the order Catalan (the key),
// Galician, Occitan, Spanish.  One record is usually one line:
//
//   "Data d'aplicació","Data de aplicación","Data d'aplicacion","Fecha de aplicación"
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

// The job's name: it names the form definition and the message catalogue.
std::string& JobName();

// The translation of a Catalan text into the session language, or the text
// itself.  The text must match a record's first item byte for byte (case
// and blanks count); the first matching record wins.
//   - language "CAT": the text, without touching any file;
//   - "SPA", "GLG", "OCI": item 4, 2 or 3 of the matching record (an empty
//     item gives an empty text), or the text when no record matches;
//   - any other language: the catalogue is read (and created) all the same,
//     and the text comes back unchanged.
// A missing catalogue is created empty.  The catalogue is read whole once,
// by the first call that needs it, and kept for the session with its name
// (taken from JobName then).  A damaged catalogue (an unterminated quote, a
// short last record, byte 26 inside) gives the records before the damage.
std::string TranslateText(std::string_view text);

// The look-up of TranslateText over catalogue text already read: item 4,
// 2 or 3 of the first record whose first item is `text` for "SPA", "GLG",
// "OCI"; the text itself for any other language or when no record matches.
std::string TranslateWithCatalogue(std::string_view catalogue, std::string_view text,
                                   std::string_view language);

// The catalogue's path (the kept name, else JobName).
std::string CataloguePath();

// The number of whole records in the catalogue, or -1 when it cannot be
// read.  Reads only: a missing catalogue is not created.
int32_t CountCatalogueRecords();

// Forgets the kept catalogue name and contents (tests).
void ResetLanguageForTesting();

}  // namespace kestrova
