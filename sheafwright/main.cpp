// The entry point: the arguments and the platform's runner handed to run().
#include "sheafwright/driver.h"

#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto runner = sheafwright::makePlatformScriptRunner();
    return sheafwright::run(arguments, {.runner = *runner, .out = std::cout, .err = std::cerr});
  } catch (const std::bad_alloc&) {
    // A library too large for this machine ends like any other failure to produce the file.
    std::fputs("Could not write output: out of memory\n", stderr);
    return 1;
  }
}
