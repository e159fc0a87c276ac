// pkgtool: makes, inspects and verifies signed package files.
#include <iostream>

#include "pkgtool/commands.h"

int main(int argc, char** argv) { return runPkgtool(argc, argv, std::cout, std::cerr); }
