// The job driver: the whole life of the rent-revision job.
#pragma once

namespace kestrova {

// The program's entry: options (--check, --version, --help) or the job.
int JobMain(int argc, char** argv);

}  // namespace kestrova
