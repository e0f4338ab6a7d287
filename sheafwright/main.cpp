#include <iostream>
#include <string>
#include <vector>

#include "sheafwright/driver.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  const auto runner = sheafwright::makePlatformScriptRunner();
  return sheafwright::run(arguments, {.runner = *runner, .out = std::cout, .err = std::cerr});
}
