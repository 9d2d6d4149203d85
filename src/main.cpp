#include "job/driver.h"

int main(int argc, char** argv) { return kestrova::JobMain(argc, argv); }
