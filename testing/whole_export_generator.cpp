// Generated library files with their model. The expectations come from the library format and
// the tool's documented rules, never from the tool's own code.
#include "testing/whole_export_generator.h"

#include <nlohmann/json.hpp>
#include <unicode/timezone.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

namespace sheafwright::wholeexport {

std::size_t ByteSource::below(std::size_t bound) {
  if (bound <= 1 || empty()) {
    return 0;
  }
  std::size_t value = data_[at_++];
  if (bound > 256 && !empty()) {
    value = value << 8 | data_[at_++];
  }
  return value % bound;
}

namespace {

using namespace std::string_view_literals;

constexpr Seconds kDay = 86400;

Seconds floorDiv(Seconds a, Seconds b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

struct Civil {
  int year;
  unsigned month;
  unsigned day;
};

Civil civil(Seconds at) {
  const std::chrono::year_month_day ymd{
      std::chrono::sys_days{std::chrono::days{floorDiv(at, kDay)}}};
  return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
          static_cast<unsigned>(ymd.day())};
}

Seconds midnightUtc(Civil day) {
  const std::chrono::sys_days days{std::chrono::year{day.year} / std::chrono::month{day.month} /
                                   std::chrono::day{day.day}};
  return static_cast<Seconds>(days.time_since_epoch().count()) * kDay;
}

// Zones whose local midnight never falls in a transition in the years the predictable notes use
// (2012 on), so the start of a day is that midnight.
constexpr std::array<const char*, 9> kZones = {"UTC",
                                               "Pacific/Kiritimati",
                                               "Asia/Kathmandu",
                                               "Europe/Berlin",
                                               "Pacific/Chatham",
                                               "America/St_Johns",
                                               "America/Los_Angeles",
                                               "Australia/Lord_Howe",
                                               "Pacific/Pago_Pago"};

// A time zone as ICU's zone data has it, asked only for offsets.
class Zone {
 public:
  explicit Zone(const std::string& id)
      : zone_(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(id))) {}
  Seconds offset(Seconds at) const {
    std::int32_t raw = 0;
    std::int32_t dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone_->getOffset(static_cast<UDate>(at) * 1000.0, false, raw, dst, status);
    return (raw + dst) / 1000;
  }
  Seconds startOfDay(Civil day) const {
    const Seconds local = midnightUtc(day);
    return local - offset(local - offset(local));
  }
  Civil localDay(Seconds at) const { return civil(at + offset(at)); }

 private:
  std::unique_ptr<icu::TimeZone> zone_;
};
// An instant as a library writes it: any offset, sometimes a fraction of a second.
std::string libraryDateText(Seconds at, ByteSource& bytes) {
  static constexpr std::array<int, 6> kOffsetMinutes = {0, 60, -210, 840, 345, -600};
  static constexpr std::array<const char*, 3> kFractions = {"", ".250", ".999999"};
  const int minutes = kOffsetMinutes[bytes.below(kOffsetMinutes.size())];
  const Seconds local = at + minutes * 60;
  const Civil day = civil(local);
  const Seconds time = local - floorDiv(local, kDay) * kDay;
  char offset[24] = "Z";
  if (minutes != 0) {
    std::snprintf(offset, sizeof offset, "%c%02d:%02d", minutes < 0 ? '-' : '+',
                  std::abs(minutes) / 60, std::abs(minutes) % 60);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d%s%s", day.year, day.month,
                day.day, static_cast<int>(time / 3600), static_cast<int>(time / 60 % 60),
                static_cast<int>(time % 60), kFractions[bytes.below(kFractions.size())], offset);
  return text;
}

// The lengths of long names, and of the large rounds' entries (their bodies over a megabyte).
constexpr std::size_t kLongUnreadableName = 300;
constexpr std::size_t kLongFolder = 3000;
constexpr std::size_t kLongName = 5000;
constexpr int kManyEntries = 4000;
constexpr std::size_t kManyEntryBytes = 300;
constexpr std::size_t kLongEntryBytes = 1200000;
// The years of note dates: predictable notes from 2012, the others from 1960.
constexpr int kPredictableFirstYear = 2012;
constexpr int kPredictableYears = 24;
constexpr int kAnyFirstYear = 1960;
constexpr int kAnyYears = 80;

// Folder and note names: empty, white space, control characters, quotes, non-ASCII. No two
// differ only in the letter case of non-ASCII letters, so ASCII case folding models the
// locale's comparison of the --folder filter.
constexpr std::array kFolders = {"Journal"sv,
                                 "Journal 2024"sv,
                                 "WORK"sv,
                                 "Work"sv,
                                 ""sv,
                                 " "sv,
                                 "\t \n "sv,
                                 "two\nlines"sv,
                                 "say \"hi\" \\ back"sv,
                                 "ctl \x01\x1f\x7f end"sv,
                                 "nul \0 inside"sv,
                                 "\u00dcn\u00efc\u00f6d\u00e9 \u2615"sv,
                                 "\u65e5\u8a18"sv,
                                 "\u0416\u0443\u0440\u043d\u0430\u043b"sv,
                                 "Plans 2023"sv,
                                 "Recently Deleted"sv,
                                 "Senast raderade"sv,
                                 "Zuletzt gel\u00f6scht"sv};
constexpr std::array kNames = {"March"sv,
                               ""sv,
                               "  "sv,
                               "Plans 2024"sv,
                               "line\nbreak"sv,
                               "\"quoted\""sv,
                               "back\\slash"sv,
                               "\u65e5\u672c\u8a9e\u306e\u30ce\u30fc\u30c8"sv,
                               "emoji \U0001F600"sv,
                               "tab\there"sv};

// Lines whose text is known: what the HTML says, and the text an entry must have.
struct Line {
  std::string_view html;
  std::string_view text;
};
constexpr std::array<Line, 8> kLines = {{{"alpha", "alpha"},
                                         {"beta gamma", "beta gamma"},
                                         {"walk the dog", "walk the dog"},
                                         {"said \"hi\" \\ twice", "said \"hi\" \\ twice"},
                                         {"a &amp; b", "a & b"},
                                         {"&lt;tag&gt;", "<tag>"},
                                         {"caf\u00e9 au lait", "caf\u00e9 au lait"},
                                         {"x", "x"}}};

// Bodies of notes whose entries are not predicted: every date form, bullets, lists, entities.
constexpr std::array kFragments = {"<div>12-Mar</div>"sv,
                                   "<div>2024-03-12</div>"sv,
                                   "<div>Mar. 12:</div>"sv,
                                   "<div>3/13/2024</div>"sv,
                                   "<div>text line</div>"sv,
                                   "<ul><li>Topic<ul><li>item</li></ul></li></ul>"sv,
                                   "<div>- dash item</div>"sv,
                                   "<div>  * star</div>"sv,
                                   "<div>\u2022 bullet</div>"sv,
                                   "<br>"sv,
                                   "&amp;&lt;&#128512;&#0;"sv,
                                   "<div><br></div>"sv,
                                   "plain "sv,
                                   "\n"sv,
                                   "\u00fcn\u00ef \u2615 \u65e5\u672c"sv,
                                   "<b>bold</b>"sv,
                                   "\"q\" \\ \x01\x1f"sv,
                                   "<ul><li><ul><li><ul><li>deep</li></ul></li></ul></li></ul>"sv,
                                   "<div>Feb 30</div>"sv,
                                   "<div>31/12/1899</div>"sv};

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A value with its text as the format reads it.
struct Value {
  std::string json;
  std::optional<std::string> text;
};

Value textValue(std::string_view text, ByteSource& bytes) {
  switch (bytes.below(16)) {
    case 0:
      return {"42", "42"};
    case 1:
      return {"-7", "-7"};
    case 2:
      return {"2024", "2024"};
    case 3:
      return {"null", std::nullopt};
    case 4:
      return {"1.5", std::nullopt};
    default:
      return {jsonText(text), std::string(text)};
  }
}

std::string pick(ByteSource& bytes, const auto& pool, std::size_t longLength) {
  const std::size_t index = bytes.below(pool.size() + 1);
  if (index == pool.size()) {
    std::string text;
    while (text.size() < longLength) {
      text += "Long \u00e9l\u00e8ve ";
    }
    return text;
  }
  return std::string(pool[index]);
}

// The year a date header without one takes from a name: absent when the name has no digits,
// and nothing to go by (so no such header is generated) when its digits are not one year.
enum class YearIn { kNone, kYear, kUnclear };
std::pair<YearIn, int> yearIn(const std::string& name) {
  std::vector<std::string> runs;
  for (std::size_t at = 0; at < name.size(); ++at) {
    if (name[at] >= '0' && name[at] <= '9') {
      std::size_t end = at;
      while (end < name.size() && name[end] >= '0' && name[end] <= '9') {
        ++end;
      }
      runs.push_back(name.substr(at, end - at));
      at = end;
    }
  }
  if (runs.empty()) {
    return {YearIn::kNone, 0};
  }
  if (runs.size() == 1 && runs[0].size() == 4) {
    const int year = std::stoi(runs[0]);
    if (year >= 1900 && year <= 2099) {
      return {YearIn::kYear, year};
    }
  }
  return {YearIn::kUnclear, 0};
}

class Generator {
 public:
  Generator(ByteSource& bytes, const Limits& limits, const Zone& zone)
      : bytes_(bytes), limits_(limits), zone_(zone) {}

  std::string library() {
    std::string json = bytes_.chance(1) ? " \n[" : "[";
    const std::size_t count = 1 + bytes_.below(limits_.maxElements);
    const std::size_t hugeAt = bytes_.below(count);
    for (std::size_t index = 0; index < count && !(index > 0 && bytes_.empty()); ++index) {
      if (limits_.huge && index == hugeAt) {
        append(json, note(Body::kMany));
        append(json, note(Body::kLongEntry));
      }
      const std::size_t kind = bytes_.below(9);
      append(json, kind == 0   ? unreadable()
                   : kind == 8 ? repeated()
                               : note(kind < 4 ? Body::kPredictable : Body::kAny));
    }
    return json + "\n]\n";
  }

  const std::vector<Element>& elements() const { return elements_; }

  // The --folder value, if any: some folder in another letter case or as it is, the trash, the
  // empty name, or a name nothing has.
  std::optional<std::string> filter() {
    std::vector<std::string> folders;
    for (const Element& element : elements_) {
      if (element.folder) {
        folders.push_back(*element.folder);
      }
    }
    switch (bytes_.below(8)) {
      case 3: {
        std::string trash(kTrashNames[bytes_.below(kTrashNames.size())]);
        if (bytes_.chance(4)) {
          trash[0] = static_cast<char>(trash[0] ^ 0x20);
        }
        return trash;
      }
      case 4:
      case 5: {
        if (folders.empty()) {
          return std::nullopt;
        }
        std::string folder = folders[bytes_.below(folders.size())];
        for (char& c : folder) {
          if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && bytes_.chance(4)) {
            c = static_cast<char>(c ^ 0x20);
          }
        }
        return folder;
      }
      case 6:
        return "";
      case 7:
        return "No such folder";
      default:
        return std::nullopt;
    }
  }

 private:
  enum class Body { kPredictable, kAny, kMany, kLongEntry };

  static void append(std::string& json, const std::string& element) {
    json += json.back() == '[' ? "\n  " : ",\n  ";
    json += element;
  }

  // A note shown a second time, as a smart folder shows it: an earlier note's id, with
  // anything else. It is dropped before anything looks at it, so the model has no element.
  std::string repeated() {
    if (ids_ == 0) {
      return unreadable();
    }
    const std::size_t id = 1 + bytes_.below(ids_);
    return "[" + jsonText(pick(bytes_, kFolders, kLongUnreadableName)) +
           ", \"Shown again\", \"<div>2024-03-12</div><div>again</div>\", "
           "{\"date\": \"2024-03-12T08:30:00Z\"}, null, \"x-coredata://S/ICNote/p" +
           std::to_string(id) + "\"]";
  }

  std::string unreadable() {
    Element element;
    std::string json;
    switch (bytes_.below(9)) {
      case 0:
        json = "[]";
        break;
      case 1:
      case 4:
      case 5: {
        const Value folder = textValue(pick(bytes_, kFolders, kLongUnreadableName), bytes_);
        element.folder = folder.text;
        element.values = 1;
        json = "[" + folder.json;
        if (bytes_.chance(4)) {
          element.nameText = pick(bytes_, kNames, kLongUnreadableName);
          element.values = 2;
          json += ", " + jsonText(*element.nameText);
          if (bytes_.chance(4)) {
            element.values = 4;
            json += ", \"<div>x</div>\", {\"date\": \"2024-03-12T08:30:00Z\"}";
          }
        }
        json += "]";
        break;
      }
      case 2:
        json = "[42]";
        element.folder = "42";
        element.values = 1;
        break;
      case 3:
        json = "[null]";
        element.values = 1;
        break;
      case 6:
        json = "\"just text\"";
        break;
      case 7:
        json = "{}";
        break;
      default:
        json = "7";
        break;
    }
    element.firstValue = element.folder;
    elements_.push_back(element);
    return json;
  }

  // An instant near some local midnight (or noon) in the run's zone; the new year's, often.
  Seconds instant(int firstYear, int years) {
    static constexpr std::array<Seconds, 5> kDeltas = {0, 1, -1, kDay / 2, kDay - 1};
    const int year = firstYear + static_cast<int>(bytes_.below(static_cast<std::size_t>(years)));
    const bool newYear = bytes_.chance(3);
    const Civil day{year, newYear ? 1u : 1u + static_cast<unsigned>(bytes_.below(12)),
                    newYear ? 1u : 1u + static_cast<unsigned>(bytes_.below(28))};
    return zone_.startOfDay(day) + kDeltas[bytes_.below(kDeltas.size())];
  }

  // A date value: readable nearly always, otherwise one of the odd replies Notes can give.
  std::pair<std::string, std::optional<Seconds>> dateValue(int firstYear, int years) {
    static constexpr std::array kOdd = {"null"sv,
                                        "\"2024-03-12T08:30:00Z\""sv,
                                        "{\"date\": \"2024-03-12\"}"sv,
                                        "{\"date\": 5}"sv,
                                        "{\"date\": \"2024-02-30T00:00:00Z\"}"sv,
                                        "{\"date\": \"2024-03-12T08:30:00Z\", \"x\": 1}"sv};
    if (bytes_.chance(1)) {
      return {std::string(kOdd[bytes_.below(kOdd.size())]), std::nullopt};
    }
    const Seconds at = instant(firstYear, years);
    return {"{\"date\": \"" + libraryDateText(at, bytes_) + "\"}", at};
  }

  std::string note(Body body) {
    Element element;
    element.isNote = true;
    const Value folder = textValue(pick(bytes_, kFolders, kLongFolder), bytes_);
    element.folder = folder.text.value_or("");
    element.firstValue = folder.text;
    Value name = textValue(pick(bytes_, kNames, kLongName), bytes_);
    element.name = name.text.value_or("");
    // Every note's line names it apart from the others' lines.
    while (!names_.emplace(*element.folder, element.name).second) {
      element.name += " ~";
      name = {jsonText(element.name), element.name};
    }
    element.nameText = name.text;
    const bool predictable = body != Body::kAny;
    const auto [createdJson, created] = predictable
                                            ? dateValue(kPredictableFirstYear, kPredictableYears)
                                            : dateValue(kAnyFirstYear, kAnyYears);
    const auto [modifiedJson, modified] = predictable
                                              ? dateValue(kPredictableFirstYear, kPredictableYears)
                                              : dateValue(kAnyFirstYear, kAnyYears);
    element.created = created;

    std::string html;
    if (predictable) {
      element.entries.emplace();
      html = predictableBody(body, element, modified.has_value() ? modified : created);
    } else {
      for (std::size_t parts = bytes_.below(8); parts > 0; --parts) {
        html += kFragments[bytes_.below(kFragments.size())];
      }
    }
    std::string json = "[" + folder.json + ", " + name.json + ", ";
    // The body: its text, or (one note in eight) a value that is none, or empty.
    const bool number = !predictable && bytes_.chance(1);
    std::optional<std::string> bodyText = number ? "42" : html;
    std::string bodyJson = number ? "42" : jsonText(html);
    if (bytes_.chance(1)) {
      static constexpr std::array kOdd = {"null"sv, "true"sv, "[]"sv, "{}"sv, "1.5"sv, "\"\""sv};
      const std::size_t odd = bytes_.below(kOdd.size());
      bodyJson = kOdd[odd];
      bodyText = odd + 1 == kOdd.size() ? std::optional<std::string>("") : std::nullopt;
      element.entries.emplace();  // an empty body has none
      element.dateHeaders = 0;
    }
    json += bodyJson + ", " + createdJson + ", " + modifiedJson;
    bool locked = false;
    switch (bytes_.below(7)) {
      case 0:
        json += ", \"x-coredata://S/ICNote/p" + std::to_string(++ids_) + "\"";
        break;
      case 3: {
        // `password protected`: only a JSON true locks a note.
        static constexpr std::array kLock = {"true"sv, "false"sv, "\"true\""sv, "1"sv, "null"sv};
        const std::size_t lock = bytes_.below(kLock.size());
        locked = lock == 0 || bytes_.chance(2);
        json += ", \"x-coredata://S/ICNote/p" + std::to_string(++ids_) + "\", " +
                std::string(locked ? kLock[0] : kLock[lock]);
        break;
      }
      case 1:
        json += bytes_.chance(4) ? ", null" : ", \"\"";
        break;
      case 2:
        json += ", \"x-coredata://S/ICNote/p" + std::to_string(++ids_) + "\", [\"ignored\"]";
        break;
      default:
        break;
    }
    if (!bodyText || (locked && bodyText->empty())) {
      element.unreadable = locked ? "locked" : "not handed over";
    }
    elements_.push_back(std::move(element));
    return json + "]";
  }

  // Date headers of every form, each followed by plain lines whose entries are known.
  std::string predictableBody(Body body, Element& element, std::optional<Seconds> modified) {
    std::string html;
    std::vector<Expected>& entries = *element.entries;
    if (element.created && body == Body::kPredictable && bytes_.chance(2)) {
      // Lines before the first header belong to the day the note was created.
      const Seconds day = zone_.startOfDay(zone_.localDay(*element.created));
      const Line& line = kLines[bytes_.below(kLines.size())];
      html += "<div>" + std::string(line.html) + "</div>";
      entries.push_back({std::string(line.text), day});
    }
    // The year a header without one takes: the folder's, else the note's name's, else the
    // year of the last modification in the run's zone.
    std::optional<int> referenceYear;
    auto [folderYear, inFolder] = yearIn(*element.folder);
    auto [nameYear, inName] = yearIn(element.name);
    if (folderYear == YearIn::kYear) {
      referenceYear = inFolder;
    } else if (folderYear == YearIn::kNone && nameYear == YearIn::kYear) {
      referenceYear = inName;
    } else if (folderYear == YearIn::kNone && nameYear == YearIn::kNone && modified) {
      referenceYear = zone_.localDay(*modified).year;
    }
    const std::size_t sections = body == Body::kPredictable ? 1 + bytes_.below(3) : 1;
    element.dateHeaders = sections;
    for (std::size_t section = 0; section < sections; ++section) {
      std::size_t form = bytes_.below(5);
      Civil day{kPredictableFirstYear + static_cast<int>(bytes_.below(kPredictableYears)),
                1 + static_cast<unsigned>(bytes_.below(12)),
                1 + static_cast<unsigned>(bytes_.below(28))};
      if (form >= 2 && form <= 4 && referenceYear) {
        day.year = *referenceYear;
      } else if (form >= 2) {
        form = 0;
      }
      std::string month = kMonths[day.month - 1];
      if (bytes_.chance(2)) {
        for (char& c : month) {
          c = static_cast<char>(bytes_.chance(4) ? c | 0x20 : c & ~0x20);
        }
      }
      char header[48];
      switch (form) {
        case 0:
          std::snprintf(header, sizeof header, "%04d-%02u-%02u", day.year, day.month, day.day);
          break;
        case 1:
          std::snprintf(header, sizeof header, "%u/%u/%04d", day.day, day.month, day.year);
          break;
        case 2:
          std::snprintf(header, sizeof header, "%u-%s", day.day, month.c_str());
          break;
        case 3:
          std::snprintf(header, sizeof header, "%s %u", month.c_str(), day.day);
          break;
        default:
          std::snprintf(header, sizeof header, "%s. %u", month.c_str(), day.day);
          break;
      }
      html += "<div>" + std::string(header) + (bytes_.chance(2) ? ":" : "") + "</div>";
      const Seconds date = zone_.startOfDay(day);
      if (body == Body::kMany) {
        // Thousands of entries, the body over a megabyte.
        std::string text;
        while (text.size() < kManyEntryBytes) {
          text += text.empty() ? "lorem" : " lorem";
        }
        for (int line = 0; line < kManyEntries; ++line) {
          html += "<div>" + text + "</div>";
          entries.push_back({text, date});
        }
      } else if (body == Body::kLongEntry) {
        std::string text;
        text.reserve(kLongEntryBytes);
        while (text.size() < kLongEntryBytes) {
          text += text.empty() ? "ipsum" : " ipsum";
        }
        html += "<div>" + text + "</div>";
        entries.push_back({std::move(text), date});
      } else {
        for (std::size_t lines = bytes_.below(limits_.maxLines + 1); lines > 0; --lines) {
          const Line& line = kLines[bytes_.below(kLines.size())];
          html += "<div>" + std::string(line.html) + "</div>";
          entries.push_back({std::string(line.text), date});
        }
      }
    }
    return html;
  }

  ByteSource& bytes_;
  const Limits& limits_;
  const Zone& zone_;
  std::vector<Element> elements_;
  std::set<std::pair<std::string, std::string>> names_;
  std::size_t ids_ = 0;
};

}  // namespace

std::string utcText(Seconds at) {
  const Civil day = civil(at);
  const Seconds time = at - floorDiv(at, kDay) * kDay;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", day.year, day.month, day.day,
                static_cast<int>(time / 3600), static_cast<int>(time / 60 % 60),
                static_cast<int>(time % 60));
  return text;
}

std::string jsonText(std::string_view text) {
  return nlohmann::json(std::string(text)).dump();
}

GeneratedLibrary generateLibrary(ByteSource& bytes, const Limits& limits) {
  GeneratedLibrary library;
  library.zone = kZones[bytes.below(kZones.size())];
  const Zone zone(library.zone);
  Generator generator(bytes, limits, zone);
  library.json = generator.library();
  library.filter = generator.filter();
  library.includeDeleted = bytes.chance(2);
  library.now = zone.startOfDay({2025, 1, 1}) - 1 + static_cast<Seconds>(bytes.below(3));
  library.elements = generator.elements();
  return library;
}

}  // namespace sheafwright::wholeexport
