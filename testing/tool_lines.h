// The lines every run prints, as the tests expect them byte for byte.
#pragma once

#include <string>

namespace sheafwright {

// The usage text of --help, whole.
inline const std::string kUsage =
    "sheafwright \u2014 export Apple Notes to a Jotterby import file\n\nOptions:\n"
    "  --folder <name>   Only export notes in this Apple Notes folder\n"
    "  --out <path>      Output path (default: jotterby-import.json)\n"
    "  --include-deleted Also export Recently Deleted, Notes' trash\n"
    "  --list-folders    List the folders to export and their notes, then stop\n"
    "  --database        Read Notes' own database on this Mac (needs Full Disk Access)\n"
    "  --database-file <path>\n"
    "                    Read this copy of Notes' database (NoteStore.sqlite)\n";
// The first line of an export, and the last of one that wrote its file; without line feeds.
inline const std::string kReadingLine =
    "Reading Apple Notes\u2026 (grant automation permission if prompted)";
inline const std::string kClosingLine =
    "AirDrop or copy this file to your iPhone or iPad, then use Settings \u203A Import from file "
    "in Jotterby.";

}  // namespace sheafwright
