// The tool's point-in-time type and its RFC 3339 text in UTC.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace sheafwright {

// An absolute point in time. Whole microseconds keep equality exact and still carry the
// fractions of a second that Notes hands over.
using Date = std::chrono::sys_time<std::chrono::microseconds>;

// The system clock's current time.
Date currentDate();

// Appends RFC 3339 in UTC with whole seconds and the letter Z ("2024-03-12T08:30:00Z") to
// `out`; the fraction of a second is dropped (rounded toward the past).
void appendInternetDate(std::string& out, Date date);

// Reads an RFC 3339 date-time with "Z" or a numeric offset and an optional fraction of a
// second. Absent for anything else, including impossible days and times.
std::optional<Date> parseInternetDate(std::string_view text);

}  // namespace sheafwright
