// The start of a session: the environment and the INI files the suite's
// menu program leaves, read once into the SessionState (session/session.h)
// that every other module reads.
#pragma once

namespace kestrova {

// Fills the SessionState from the environment and the INI files.  Never
// fails: missing files and keys give empty values, then the defaults.
void LoadSession();

}  // namespace kestrova
