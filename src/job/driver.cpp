#include "job/driver.h"

namespace kestrova {

int JobMain(int, char**) { return 0; }

}  // namespace kestrova
