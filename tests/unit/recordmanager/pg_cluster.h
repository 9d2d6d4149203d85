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


#include <fcntl.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace kestrova::rmtest {

inline bool PgTestMode();
inline std::string PgConnection();

namespace pgdetail {

namespace fs = std::filesystem;

struct Cluster {
  std::string unavailable = "the cluster was not started";
  std::string dir;      // holds the data directory, the socket and the log
  std::string binDir;   // the server programs
  uid_t uid = 0;        // who runs the server
  gid_t gid = 0;
  int guardPipe = -1;   // closed when this process ends: the guard stops the cluster
  pid_t guard = -1;
  PGconn* admin = nullptr;
};

inline Cluster& TheCluster() {
  static Cluster cluster;
  return cluster;
}

// The newest installed server's programs, or empty.
inline std::string FindServerPrograms() {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    if (fs::exists(entry.path() / "bin" / "initdb") && fs::exists(entry.path() / "bin" / "postgres")) {
      found.push_back((entry.path() / "bin").string());
    }
  }
  if (found.empty()) return {};
  std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(fs::path(a).parent_path().filename().string()) <
           std::stoi(fs::path(b).parent_path().filename().string());
  });
  return found.back();
}

// Runs a server program as the cluster's user, quietly; its exit code.
inline int RunAsServerUser(const Cluster& c, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (getuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(c.gid) != 0 || setuid(c.uid) != 0) _exit(126);
    }
    const std::string log = c.dir + "/setup.log";
    freopen(log.c_str(), "a", stdout);
    freopen(log.c_str(), "a", stderr);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The guard: waits for the test program to end (its pipe closes), then
// ends the server at once and removes the cluster's directory.
inline void StartGuard(Cluster& c) {
  int fds[2];
  // Close-on-exec: the server's programs must not keep the test's end open.
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[1]);
    setsid();  // not in the test's process group: a kill of the group leaves it
    // Nor may the guard keep the test's output open.
    const int devNull = open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) dup2(devNull, fd);
    char byte;
    while (read(fds[0], &byte, 1) != 0) {
    }
    std::ifstream pidFile(c.dir + "/data/postmaster.pid");
    pid_t postmaster = 0;
    if (pidFile >> postmaster && postmaster > 0) {
      kill(postmaster, SIGQUIT);  // immediate shutdown
      for (int i = 0; i < 500 && kill(postmaster, 0) == 0; ++i) usleep(10000);
      if (kill(postmaster, 0) == 0) kill(postmaster, SIGKILL);
    }
    std::error_code ec;
    fs::remove_all(c.dir, ec);
    _exit(0);
  }
  close(fds[0]);
  c.guardPipe = fds[1];
  c.guard = pid;
}

class ClusterEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!PgTestMode()) return;
    Cluster& c = pgdetail::TheCluster();
    c.binDir = FindServerPrograms();
    if (c.binDir.empty()) {
      c.unavailable = "the PostgreSQL server programs are not installed (scripts/setup installs them)";
      return;
    }
    char templ[] = "/tmp/kestrova-pg-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
      c.unavailable = "no temporary directory for the cluster";
      return;
    }
    c.dir = templ;
    c.uid = getuid();
    c.gid = getgid();
    if (getuid() == 0) {
      // The server refuses to run as root.
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr) {
        c.unavailable = "no unprivileged user to run the server as";
        return;
      }
      c.uid = nobody->pw_uid;
      c.gid = nobody->pw_gid;
      if (chown(c.dir.c_str(), c.uid, c.gid) != 0) {
        c.unavailable = "cannot hand the cluster's directory to the server's user";
        return;
      }
    }
    StartGuard(c);
    if (RunAsServerUser(c, {c.binDir + "/initdb", "-D", c.dir + "/data", "-U", "kestrova", "-A", "trust",
                            "-E", "UTF8", "--locale=C", "--no-sync"}) != 0) {
      c.unavailable = "initdb failed (see " + c.dir + "/setup.log)";
      return;
    }
    const std::string options = "-c listen_addresses='' -k " + c.dir +
                                " -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
                                " -c max_connections=60";
    if (RunAsServerUser(c, {c.binDir + "/pg_ctl", "-D", c.dir + "/data", "-o", options, "-l",
                            c.dir + "/server.log", "-w", "-t", "60", "start"}) != 0) {
      c.unavailable = "the server did not start (see " + c.dir + "/server.log)";
      return;
    }
    c.admin = PQconnectdb(PgConnection().c_str());
    if (PQstatus(c.admin) != CONNECTION_OK) {
      c.unavailable = "cannot connect to the test cluster";
      return;
    }
    PQsetNoticeProcessor(c.admin, [](void*, const char*) {}, nullptr);
    c.unavailable.clear();
  }
  void TearDown() override {
    Cluster& c = pgdetail::TheCluster();
    if (c.admin) PQfinish(c.admin);
    c.admin = nullptr;
    if (c.guard > 0) {
      close(c.guardPipe);
      waitpid(c.guard, nullptr, 0);
      c.guard = -1;
    }
  }
};

inline const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ClusterEnvironment);

}  // namespace pgdetail

inline bool PgTestMode() {
  const char* backend = getenv("KESTROVA_TEST_BACKEND");
  return backend && std::string(backend) == "postgresql";
}

inline const std::string& PgUnavailable() { return pgdetail::TheCluster().unavailable; }

inline std::string PgConnection() { return "host=" + pgdetail::TheCluster().dir + " dbname=postgres user=kestrova"; }

inline void WritePgSetting(const std::string& dir, const std::string& schema) {
  std::ofstream out(dir + "/recordstore.conf");
  out << "# the test cluster\nbackend = postgresql\nconnection = " << PgConnection()
      << "\nschema = " << schema << "\n";
}

inline bool PgAdminExec(const std::string& sql) {
  PGconn* admin = pgdetail::TheCluster().admin;
  if (admin == nullptr) return false;
  PGresult* r = PQexec(admin, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  PQclear(r);
  return ok;
}

inline std::string PgAdminValue(const std::string& sql) {
  PGconn* admin = pgdetail::TheCluster().admin;
  if (admin == nullptr) return {};
  PGresult* r = PQexec(admin, sql.c_str());
  std::string value;
  if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0) value = PQgetvalue(r, 0, 0);
  PQclear(r);
  return value;
}

inline void DropPgSchema(const std::string& schema) {
  PgAdminExec("DROP SCHEMA IF EXISTS \"" + schema + "\" CASCADE");
}

inline void AwaitPgClientGone(pid_t pid) {
  if (!PgTestMode() || pgdetail::TheCluster().admin == nullptr) return;
  const std::string sql = "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'kestrova " +
                          std::to_string(pid) + "'";
  for (int i = 0; i < 1000; ++i) {
    if (PgAdminValue(sql) == "0") return;
    usleep(10000);
  }
  ADD_FAILURE() << "the server kept the session of client " << pid << " for 10 s";
}

}  // namespace kestrova::rmtest
