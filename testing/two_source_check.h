// The two sources against each other: a generated library written both as a stand-in library
// file and as a Notes database, exported from each, and the two exports compared note by note.
#pragma once

#include "testing/whole_export_check.h"

#include <filesystem>
#include <string>

namespace sheafwright::wholeexport {

struct TwoSourceOutcome {
  std::string failure;  // empty when the exports agree
  std::string library;  // the stand-in library text, to reproduce a failure
  std::string layout;
  std::string zone;
};

// Generates a library from `bytes`, writes it into `dir` both ways, exports each in-process and
// compares the printed lines and the records (all but their random ids).
TwoSourceOutcome checkTwoSources(ByteSource& bytes, const std::filesystem::path& dir);

}  // namespace sheafwright::wholeexport
