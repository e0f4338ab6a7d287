// The user's time zone as the TZ variable names it, read as the C library reads it.
#pragma once

#include <optional>
#include <string>

namespace sheafwright {

// Makes the zone that `tz` (the value of TZ, null when it is unset) names the zone of every
// calendar made from then on: a zone of the time zone database by its name ("Europe/Paris",
// ":Europe/Paris", a path into a zoneinfo directory such as ":/etc/localtime"), else POSIX
// rules ("EST5EDT,M3.2.0,M11.1.0", "<+0545>-5:45"). Unset leaves ICU's own choice, the
// system's zone; empty is UTC. Returns `tz` when it names nothing that can be read: the zone is
// then UTC.
std::optional<std::string> adoptTimeZone(const char* tz);

}  // namespace sheafwright
