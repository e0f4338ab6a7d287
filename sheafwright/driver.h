// The whole tool as a function: what a run talks to, and run() itself. Every failure ends
// there as one line on the error stream and an exit status.
#pragma once

#include "sheafwright/calendar.h"
#include "sheafwright/script_runner.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace sheafwright {

// What a run talks to besides its arguments: the notes, the streams, the user's calendar.
struct RunEnvironment {
  ScriptRunner& runner;
  std::ostream& out;
  std::ostream& err;
  // The user's current calendar, asked for once per run.
  std::function<Calendar()> currentCalendar = &Calendar::current;
  // The current date and time, taken once for the document's export time.
  std::function<Date()> now = &currentDate;
  // Where a person watches (standard error when it is a terminal): a line there, rewritten in
  // place, says which folder is being read. Null: nothing is shown.
  std::ostream* progress = nullptr;
  // The user's time zone setting (TZ) when the calendar could not read it and takes dates in
  // UTC instead: named in a warning before the export.
  std::optional<std::string> unknownTimeZone{};
};

// The whole tool: options, reading, converting, writing and every printed line. Returns the
// exit status (0 done or usage shown, 1 reading or writing failed, 2 unknown option).
int run(const std::vector<std::string>& arguments, const RunEnvironment& environment);

}  // namespace sheafwright
