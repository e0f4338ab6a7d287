// The entry point: the arguments, the streams and the platform's runner handed to run().
#include "sheafwright/driver.h"
#include "sheafwright/interruption.h"
#include "sheafwright/time_zone.h"

#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

int main(int argc, char** argv) {
  sheafwright::interruption::install();
  try {
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto runner = sheafwright::makePlatformScriptRunner();
    return sheafwright::run(arguments,
                            {.runner = *runner,
                             .out = std::cout,
                             .err = std::cerr,
                             .progress = ::isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr,
                             .unknownTimeZone = sheafwright::adoptTimeZone(std::getenv("TZ"))});
  } catch (const std::bad_alloc&) {
    // Not even the run could be set up; run() reports everything after that itself.
    return 1;
  }
}
