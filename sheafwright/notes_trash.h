// Notes' trash ("Recently Deleted"). Scripts see it as a folder like any other, under the name
// the system's language gives it, and Notes' dictionary has no property that marks it: its
// name is the only sign. These are the names Notes gives it, as public scripts that leave it
// out list them; a folder of the user's own with exactly one of these names is taken for it.
#pragma once

#include <array>
#include <string_view>

namespace sheafwright {

inline constexpr std::array<std::string_view, 45> kNotesTrashNames = {
    "Recently Deleted",         // English
    "\u0627\u0644\u0645\u062D\u0630\u0648\u0641\u0629 \u0645\u0624\u062E\u0631\u064B\u0627",  // Arabic
    "Eliminades fa poc",        // Catalan
    "\u6700\u8FD1\u5220\u9664",  // Chinese (simplified)
    "\u6700\u8FD1\u522A\u9664",  // Chinese (traditional)
    "Nedavno obrisano",         // Croatian
    "Ned\u00E1vno smazan\u00E9",  // Czech
    "Slettet for nylig",        // Danish
    "Recent verwijderd",        // Dutch
    "\u00C4skett\u00E4in poistetut",  // Finnish
    "Supprim\u00E9s r\u00E9cemment",  // French
    "Suppr. r\u00E9centes",     // French (shortened)
    "Zuletzt gel\u00F6scht",    // German
    "\u03A0\u03C1\u03CC\u03C3\u03C6\u03B1\u03C4\u03B1 \u03B4\u03B9\u03B1\u03B3\u03C1\u03B1\u03BC"
    "\u03BC\u03AD\u03BD\u03B1",  // Greek
    "\u03A0\u03C1\u03CC\u03C3\u03C6\u03B1\u03C4\u03B5\u03C2 \u03B4\u03B9\u03B1\u03B3\u03C1\u03B1"
    "\u03C6\u03AD\u03C2",  // Greek
    "\u05E0\u05DE\u05D7\u05E7\u05D5 \u05DC\u05D0\u05D7\u05E8\u05D5\u05E0\u05D4",  // Hebrew
    "\u0939\u093E\u0932\u093F\u092F\u093E \u0921\u093F\u0932\u0940\u091F \u0915\u093F\u090F "
    "\u0917\u090F",  // Hindi
    "Nemr\u00E9g t\u00F6r\u00F6ltek",  // Hungarian
    "Nemr\u00E9g t\u00F6r\u00F6lt",    // Hungarian
    "Baru Dihapus",             // Indonesian
    "Eliminati di recente",     // Italian
    "\u6700\u8FD1\u524A\u9664\u3057\u305F\u9805\u76EE",  // Japanese
    "\uCD5C\uADFC \uC0AD\uC81C\uB41C \uD56D\uBAA9",      // Korean
    "Terbaru Dipadam",          // Malay
    "Nylig slettet",            // Norwegian
    "Senest slettet",           // Norwegian, Danish
    "Ostatnio usuni\u0119te",   // Polish
    "Apagados recentemente",    // Portuguese
    "Apagadas recentemente",    // Portuguese
    "Apagadas",                 // Portuguese
    "\u0218terse recent",       // Romanian
    "\u041D\u0435\u0434\u0430\u0432\u043D\u043E \u0443\u0434\u0430\u043B\u0451\u043D\u043D\u044B"
    "\u0435",  // Russian
    "\u041D\u0435\u0434\u0430\u0432\u043D\u043E \u0443\u0434\u0430\u043B\u0435\u043D\u043D\u044B"
    "\u0435",  // Russian
    "Ned\u00E1vno vymazan\u00E9",  // Slovak
    "Nedavno izbrisano",        // Slovenian
    "Eliminados recientemente",  // Spanish
    "Reci\u00E9n eliminado",    // Spanish
    "Eliminadas",               // Spanish (Latin America)
    "Senast raderade",          // Swedish
    "\u0E40\u0E1E\u0E34\u0E48\u0E07\u0E25\u0E1A",  // Thai
    "\u0E17\u0E35\u0E48\u0E25\u0E1A\u0E25\u0E48\u0E32\u0E2A\u0E38\u0E14",  // Thai
    "Son Silinenler",           // Turkish
    "\u041D\u0435\u0449\u043E\u0434\u0430\u0432\u043D\u043E \u0432\u0438\u0434\u0430\u043B\u0435"
    "\u043D\u0456",  // Ukrainian
    "\u041D\u0435\u0434\u0430\u0432\u043D\u043E \u0432\u0438\u0434\u0430\u043B\u0435\u043D\u0456",  // Ukrainian
    "\u0110\u00E3 x\u00F3a g\u1EA7n \u0111\u00E2y",  // Vietnamese
};

// Whether a folder of this name is Notes' trash: its name exactly as Notes gives it.
constexpr bool isNotesTrashName(std::string_view name) {
  for (const std::string_view trash : kNotesTrashNames) {
    if (name == trash) {
      return true;
    }
  }
  return false;
}

}  // namespace sheafwright
