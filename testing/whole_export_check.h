// Generated library files run through the whole export, and what must hold of every export,
// checked on the written file as any reader of JSON sees it.
#pragma once

#include "testing/whole_export_generator.h"

#include <filesystem>
#include <string>
#include <vector>

namespace sheafwright::wholeexport {

struct Outcome {
  std::string failure;  // empty when every check held
  std::string library;  // the JSON text run, to reproduce a failure
  std::vector<std::string> arguments;
  std::string zone;
};

// Generates one library from `bytes`, exports it in-process into `dir` and checks the file
// and the printed lines.
Outcome checkWholeExport(ByteSource& bytes, const Limits& limits, const std::filesystem::path& dir);

// The outcome as text to reproduce it: the failure, zone, arguments and the library.
std::string describe(const Outcome& outcome);

}  // namespace sheafwright::wholeexport
