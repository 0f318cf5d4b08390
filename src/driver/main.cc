// zoqc: translates a ZOQ script and its template into one PHP page.
#include <iostream>

#include "src/driver/driver.h"

int main(int argc, char** argv) { return zoqc::RunCommandLine(argc, argv, std::cout, std::cerr); }
