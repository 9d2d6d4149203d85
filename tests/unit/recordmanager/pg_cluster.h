// The PostgreSQL half of the record manager tests.
//
// With KESTROVA_TEST_BACKEND=postgresql the same tests run against a live
// server: the test program starts a throwaway cluster of its own (initdb in
// a temporary directory, a Unix socket in that directory only, no TCP port,
// run as an unprivileged user when the tests run as root), gives every test
// a schema of its own through the setting file in the test's directory, and
// stops and removes the cluster when it ends, also when it fails or is
// killed (a guard process does it when the test program's end closes its
// pipe).  When the server programs are not installed, every test of that
// half is skipped with a message.
#pragma once

#include <sys/types.h>

#include <string>

namespace kestrova::rmtest {

// True when this run is the PostgreSQL half.
bool PgTestMode();

// Empty when the cluster runs; otherwise why the PostgreSQL half cannot run.
const std::string& PgUnavailable();

// The libpq connection string of the cluster.
std::string PgConnection();

// Writes the setting file that puts `dir`'s record files into the schema
// `schema` of the cluster.
void WritePgSetting(const std::string& dir, const std::string& schema);

// Drops a test's schema and everything in it.
void DropPgSchema(const std::string& schema);

// Runs one statement as the cluster's superuser; false when it failed.
bool PgAdminExec(const std::string& sql);
// The first value of a one-row query, empty when it failed.
std::string PgAdminValue(const std::string& sql);

// After a client process ended (killed or not): waits until the server has
// ended its session, so its locks are gone.  A server notices a closed
// connection on its own a moment later; tests must not race that moment.
void AwaitPgClientGone(pid_t pid);

}  // namespace kestrova::rmtest
