// Notes' trash ("Recently Deleted"). Scripts see it as a folder like any other, under the name
// the system's language gives it, and Notes' dictionary has no property that marks it: its
// name is the only sign. These are the names Notes gives it, as public scripts that leave it
// out list them; a folder of the user's own with exactly one of these names is taken for it.
#pragma once

#include <array>
#include <string_view>

namespace sheafwright {

inline constexpr std::array<std::string_view, 45> kNotesTrashNames = {
    // English
    "Recently Deleted",
    // Arabic
    "\u0627\u0644\u0645\u062D\u0630\u0648\u0641\u0629 \u0645\u0624\u062E\u0631\u064B\u0627",
    // Catalan
    "Eliminades fa poc",
    // Chinese, simplified and traditional
    "\u6700\u8FD1\u5220\u9664",
    "\u6700\u8FD1\u522A\u9664",
    // Croatian
    "Nedavno obrisano",
    // Czech
    "Ned\u00E1vno smazan\u00E9",
    // Danish, Norwegian
    "Slettet for nylig",
    "Senest slettet",
    "Nylig slettet",
    // Dutch
    "Recent verwijderd",
    // Finnish
    "\u00C4skett\u00E4in poistetut",
    // French
    "Supprim\u00E9s r\u00E9cemment",
    "Suppr. r\u00E9centes",
    // German
    "Zuletzt gel\u00F6scht",
    // Greek
    "\u03A0\u03C1\u03CC\u03C3\u03C6\u03B1\u03C4\u03B1 "
    "\u03B4\u03B9\u03B1\u03B3\u03C1\u03B1\u03BC\u03BC\u03AD\u03BD\u03B1",
    "\u03A0\u03C1\u03CC\u03C3\u03C6\u03B1\u03C4\u03B5\u03C2 "
    "\u03B4\u03B9\u03B1\u03B3\u03C1\u03B1\u03C6\u03AD\u03C2",
    // Hebrew
    "\u05E0\u05DE\u05D7\u05E7\u05D5 \u05DC\u05D0\u05D7\u05E8\u05D5\u05E0\u05D4",
    // Hindi
    "\u0939\u093E\u0932\u093F\u092F\u093E \u0921\u093F\u0932\u0940\u091F \u0915\u093F\u090F "
    "\u0917\u090F",
    // Hungarian
    "Nemr\u00E9g t\u00F6r\u00F6ltek",
    "Nemr\u00E9g t\u00F6r\u00F6lt",
    // Indonesian
    "Baru Dihapus",
    // Italian
    "Eliminati di recente",
    // Japanese
    "\u6700\u8FD1\u524A\u9664\u3057\u305F\u9805\u76EE",
    // Korean
    "\uCD5C\uADFC \uC0AD\uC81C\uB41C \uD56D\uBAA9",
    // Malay
    "Terbaru Dipadam",
    // Polish
    "Ostatnio usuni\u0119te",
    // Portuguese
    "Apagados recentemente",
    "Apagadas recentemente",
    "Apagadas",
    // Romanian
    "\u0218terse recent",
    // Russian
    "\u041D\u0435\u0434\u0430\u0432\u043D\u043E "
    "\u0443\u0434\u0430\u043B\u0451\u043D\u043D\u044B\u0435",
    "\u041D\u0435\u0434\u0430\u0432\u043D\u043E "
    "\u0443\u0434\u0430\u043B\u0435\u043D\u043D\u044B\u0435",
    // Slovak
    "Ned\u00E1vno vymazan\u00E9",
    // Slovenian
    "Nedavno izbrisano",
    // Spanish
    "Eliminados recientemente",
    "Reci\u00E9n eliminado",
    "Eliminadas",
    // Swedish
    "Senast raderade",
    // Thai
    "\u0E40\u0E1E\u0E34\u0E48\u0E07\u0E25\u0E1A",
    "\u0E17\u0E35\u0E48\u0E25\u0E1A\u0E25\u0E48\u0E32\u0E2A\u0E38\u0E14",
    // Turkish
    "Son Silinenler",
    // Ukrainian
    "\u041D\u0435\u0449\u043E\u0434\u0430\u0432\u043D\u043E "
    "\u0432\u0438\u0434\u0430\u043B\u0435\u043D\u0456",
    "\u041D\u0435\u0434\u0430\u0432\u043D\u043E \u0432\u0438\u0434\u0430\u043B\u0435\u043D\u0456",
    // Vietnamese
    "\u0110\u00E3 x\u00F3a g\u1EA7n \u0111\u00E2y",
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
