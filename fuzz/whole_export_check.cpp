// Generated library files run through the whole export and checked as any reader of JSON sees
// the result. The expectations come from a model of the library built alongside it and from
// the library format and the tool's documented rules, never from the tool's own code: the only
// things of the tool used are run() and the stand-in runner that serves the library text.
#include "fuzz/whole_export_check.h"

#include "sheafwright/driver.h"
#include "sheafwright/platform/standin_runner.h"

#include <nlohmann/json.hpp>
#include <unicode/timezone.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

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
using Json = nlohmann::ordered_json;
using Seconds = std::int64_t;

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

std::string utcText(Seconds at) {
  const Civil day = civil(at);
  const Seconds time = at - floorDiv(at, kDay) * kDay;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", day.year, day.month, day.day,
                static_cast<int>(time / 3600), static_cast<int>(time / 60 % 60),
                static_cast<int>(time % 60));
  return text;
}

// An instant as a library writes it: any offset, sometimes a fraction of a second.
std::string libraryDateText(Seconds at, ByteSource& bytes) {
  static constexpr std::array<int, 6> kOffsetMinutes = {0, 60, -210, 840, 345, -600};
  static constexpr std::array<const char*, 3> kFractions = {"", ".250", ".999999"};
  const int minutes = kOffsetMinutes[bytes.below(kOffsetMinutes.size())];
  const Seconds local = at + minutes * 60;
  const Civil day = civil(local);
  const Seconds time = local - floorDiv(local, kDay) * kDay;
  char text[64];
  if (minutes == 0) {
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d%sZ", day.year, day.month,
                  day.day, static_cast<int>(time / 3600), static_cast<int>(time / 60 % 60),
                  static_cast<int>(time % 60), kFractions[bytes.below(kFractions.size())]);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d%s%c%02d:%02d", day.year,
                  day.month, day.day, static_cast<int>(time / 3600),
                  static_cast<int>(time / 60 % 60), static_cast<int>(time % 60),
                  kFractions[bytes.below(kFractions.size())], minutes < 0 ? '-' : '+',
                  std::abs(minutes) / 60, std::abs(minutes) % 60);
  }
  return text;
}

std::string jsonText(std::string_view text) {
  return nlohmann::json(std::string(text)).dump();
}

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
// Notes' trash in three languages, as the README's rule has it: a folder of exactly such a name
// is read only with --include-deleted.
constexpr std::array kTrashNames = {"Recently Deleted"sv, "Senast raderade"sv,
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

struct Expected {
  std::string text;
  Seconds entryDate;
};

// What the generator knows of one element of the library.
struct Element {
  bool isNote = false;                    // five values or more
  std::optional<std::string> folder;      // the first value's text ("" for a note without one)
  std::optional<std::string> firstValue;  // the first value's text, by which folders form
  std::optional<std::string> nameText;    // the second value's text
  std::size_t values = 0;                 // of an element that is no note; 0 for no list
  std::string_view unreadable;  // why a note is not read: its body, its lock; empty if read
  std::string name;
  std::optional<Seconds> created;                // absent when the value is no readable date
  std::optional<std::vector<Expected>> entries;  // known for predictable notes
};

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
    return "[" + jsonText(pick(bytes_, kFolders, 300)) +
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
        const Value folder = textValue(pick(bytes_, kFolders, 300), bytes_);
        element.folder = folder.text;
        element.values = 1;
        json = "[" + folder.json;
        if (bytes_.chance(4)) {
          element.nameText = pick(bytes_, kNames, 300);
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
    const Value folder = textValue(pick(bytes_, kFolders, 3000), bytes_);
    element.folder = folder.text.value_or("");
    element.firstValue = folder.text;
    Value name = textValue(pick(bytes_, kNames, 5000), bytes_);
    element.name = name.text.value_or("");
    // Every note's line names it apart from the others' lines.
    while (!names_.emplace(*element.folder, element.name).second) {
      element.name += " ~";
      name = {jsonText(element.name), element.name};
    }
    element.nameText = name.text;
    const bool predictable = body != Body::kAny;
    const auto [createdJson, created] = predictable ? dateValue(2012, 24) : dateValue(1960, 80);
    const auto [modifiedJson, modified] = predictable ? dateValue(2012, 24) : dateValue(1960, 80);
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
    for (std::size_t section = 0; section < sections; ++section) {
      std::size_t form = bytes_.below(5);
      Civil day{2012 + static_cast<int>(bytes_.below(24)),
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
        while (text.size() < 300) {
          text += text.empty() ? "lorem" : " lorem";
        }
        for (int line = 0; line < 4000; ++line) {
          html += "<div>" + text + "</div>";
          entries.push_back({text, date});
        }
      } else if (body == Body::kLongEntry) {
        std::string text;
        text.reserve(1200000);
        while (text.size() < 1200000) {
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

struct Failure {
  std::string what;
};

[[noreturn]] void fail(std::string what) {
  throw Failure{std::move(what)};
}

bool asciiEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
    };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

bool isUuidV4(const std::string& text) {
  if (text.size() != 36) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') {
        return false;
      }
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return text[14] == '4' && std::string_view("89abAB").find(text[19]) != std::string_view::npos;
}

bool isUtcDate(const std::string& text) {
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] == 'd' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != kShape[i]) {
      return false;
    }
  }
  return true;
}

// Reads the printed lines in order against the expected ones.
class Printed {
 public:
  explicit Printed(std::string text) : text_(std::move(text)) {}
  void line(const std::string& expected) {
    if (text_.compare(at_, expected.size() + 1, expected + '\n') != 0) {
      fail("expected the line " + jsonText(expected) + " at " + jsonText(text_.substr(at_, 200)));
    }
    at_ += expected.size() + 1;
  }
  bool startsWith(const std::string& prefix) {
    if (text_.compare(at_, prefix.size(), prefix) != 0) {
      return false;
    }
    at_ += prefix.size();
    return true;
  }
  std::size_t number() {
    std::size_t value = 0;
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      value = value * 10 + static_cast<std::size_t>(text_[at_++] - '0');
    }
    if (at_ == start) {
      fail("expected a number at " + jsonText(text_.substr(at_, 200)));
    }
    return value;
  }
  void text(std::string_view expected) {
    if (!startsWith(std::string(expected))) {
      fail("expected " + jsonText(expected) + " at " + jsonText(text_.substr(at_, 200)));
    }
  }
  bool atEnd() const { return at_ == text_.size(); }

 private:
  std::string text_;
  std::size_t at_ = 0;
};

std::vector<std::string> keysOf(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) {
    keys.push_back(item.key());
  }
  return keys;
}

std::string joined(const std::vector<std::string>& keys) {
  std::string text;
  for (const std::string& key : keys) {
    text += (text.empty() ? "" : ",") + key;
  }
  return text;
}

// A name as the tool prints it: every control but tab as \u and four hex digits (the generated
// names are UTF-8).
std::string shown(std::string_view text) {
  std::string printed;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    unsigned control = 0x100;
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
      control = byte;
    } else if (byte == 0xC2 && at + 1 < text.size() &&
               static_cast<unsigned char>(text[at + 1]) <= 0x9F) {
      control = static_cast<unsigned char>(text[++at]);
    }
    if (control < 0x100) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", control);
      printed += escaped;
    } else {
      printed += text[at];
    }
  }
  return printed;
}

bool isTrash(std::string_view name) {
  return std::ranges::find(kTrashNames, name) != kTrashNames.end();
}

// A --folder that names no folder to read: one line on standard error, the folders there are,
// and nothing written.
void checkNoFolder(const std::vector<Element>& elements, const std::string& filter,
                   bool includeDeleted, int status, const std::string& out, const std::string& err,
                   const std::filesystem::path& outPath) {
  std::string message = "No folder named \"" + shown(filter) + "\"";
  if (!includeDeleted && std::ranges::any_of(kTrashNames, [&](std::string_view trash) {
        return asciiEqualIgnoringCase(trash, filter);
      })) {
    message += ": Notes' trash is read only with --include-deleted.";
  } else {
    std::vector<std::string> names;
    for (const Element& element : elements) {
      const std::string name = element.firstValue.value_or("");
      if ((includeDeleted || !isTrash(name)) && std::ranges::find(names, name) == names.end()) {
        names.push_back(name);
      }
    }
    if (names.empty()) {
      message += ". Notes has no folders.";
    } else {
      message += ". Folders: ";
      for (std::size_t i = 0; i < names.size() && i < 10; ++i) {
        message += (i > 0 ? ", " : "") + (names[i].empty() ? "\"\"" : shown(names[i]));
      }
      message += names.size() > 10 ? ", \u2026 (" + std::to_string(names.size()) +
                                         " in all: --list-folders shows them)."
                                   : ".";
    }
  }
  if (status != 1 || err != message + "\n" ||
      out != "Reading Apple Notes\u2026 (grant automation permission if prompted)\n" ||
      std::filesystem::exists(outPath)) {
    fail("expected " + jsonText(message) + " and status 1; status " + std::to_string(status) +
         ", error output " + jsonText(err) + ", output " + jsonText(out.substr(0, 300)));
  }
}

void check(const std::vector<Element>& elements, const std::optional<std::string>& filter,
           bool includeDeleted, Seconds now, int status, const std::string& out,
           const std::string& err, const std::filesystem::path& outPath) {
  const auto selects = [&filter](const std::string& folder) {
    return !filter || asciiEqualIgnoringCase(folder, *filter);
  };
  // Whether the folder an element is in is read: the filter chooses it, the trash only when
  // asked for.
  const auto read = [&](const Element& element) {
    const std::string folder = element.firstValue.value_or("");
    return selects(folder) && (includeDeleted || !isTrash(folder));
  };
  if (filter && std::ranges::none_of(elements, read)) {
    checkNoFolder(elements, *filter, includeDeleted, status, out, err, outPath);
    return;
  }
  if (status != 0) {
    fail("exit status " + std::to_string(status) + ", error output " + jsonText(err));
  }
  // Folders are runs of elements whose first values agree. Of each folder that is read, the
  // notes not read are named first, then the elements that were no notes (those without a
  // folder's name only when every folder is read).
  std::vector<const Element*> selected;
  std::vector<std::string> unreadable;
  for (std::size_t start = 0, end = 0; start < elements.size(); start = end) {
    for (end = start + 1;
         end < elements.size() && elements[end].firstValue == elements[start].firstValue; ++end) {
    }
    if (!read(elements[start])) {
      continue;
    }
    std::vector<std::string> noNotes;
    for (std::size_t at = start; at < end; ++at) {
      const Element& element = elements[at];
      const std::string folder = shown(element.folder.value_or(""));
      const std::string name = shown(element.nameText.value_or(""));
      if (element.isNote && element.unreadable.empty()) {
        selected.push_back(&element);
      } else if (element.isNote) {
        unreadable.push_back("  " + folder + " / " + name + " (" + std::string(element.unreadable) +
                             ")");
      } else if (element.folder || !filter) {
        noNotes.push_back(element.values == 1
                              ? "  " + folder + " (folder could not be opened)"
                              : "  " + folder + " / " + name + " (not handed over)");
      }
    }
    unreadable.insert(unreadable.end(), noNotes.begin(), noNotes.end());
  }

  // The printed lines: one per note that yielded entries, in library order.
  Printed printed(out);
  printed.line("Reading Apple Notes\u2026 (grant automation permission if prompted)");
  printed.line("Found " + std::to_string(selected.size()) + " notes" +
               (filter ? " in \"" + shown(*filter) + "\"" : "") + ".");
  std::vector<std::pair<const Element*, std::size_t>> exported;
  std::size_t skipped = 0;
  std::size_t entriesPrinted = 0;
  for (const Element* note : selected) {
    if (!printed.startsWith("  " + shown(*note->folder) + " / " + shown(note->name) + ": ")) {
      if (note->entries && !note->entries->empty()) {
        fail("no line for the note " + jsonText(note->name) + " of " + jsonText(*note->folder));
      }
      ++skipped;
      continue;
    }
    const std::size_t count = printed.number();
    printed.text(" entries, ");
    printed.number();
    printed.text(" topics, ");
    printed.number();
    printed.text(" dates\n");
    exported.emplace_back(note, count);
    entriesPrinted += count;
  }
  if (skipped > 0) {
    printed.line("Skipped " + std::to_string(skipped) + " empty notes.");
  }
  if (!unreadable.empty()) {
    printed.line("Could not read " + std::to_string(unreadable.size()) + " notes.");
    for (const std::string& line : unreadable) {
      printed.line(line);
    }
  }
  printed.line("Wrote " + std::to_string(entriesPrinted) + " entries to " +
               shown(outPath.string()) + ".");
  printed.line(
      "AirDrop or copy this file to your iPhone or iPad, then use Settings \u203A Import from "
      "file in Jotterby.");
  if (!printed.atEnd()) {
    fail("more printed lines than expected");
  }

  // The file, as any JSON reader sees it.
  std::ifstream file(outPath, std::ios::binary);
  const std::string written(std::istreambuf_iterator<char>(file), {});
  Json document;
  try {
    document = Json::parse(written);
  } catch (const Json::exception& error) {
    fail("the file is not JSON: " + std::string(error.what()) + "; it begins " +
         jsonText(written.substr(0, 300)));
  }
  if (!document.is_object() || joined(keysOf(document)) != "exportedAt,records,version") {
    fail("document keys " + document.dump().substr(0, 300));
  }
  if (document["version"] != 1 || document["exportedAt"] != utcText(now) ||
      !document["records"].is_array()) {
    fail("document header " + document["version"].dump() + " " + document["exportedAt"].dump());
  }
  const Json& records = document["records"];
  if (records.size() != entriesPrinted) {
    fail(std::to_string(records.size()) + " records, " + std::to_string(entriesPrinted) +
         " entries printed");
  }
  std::set<std::string> ids;
  std::size_t at = 0;
  for (const auto& [note, count] : exported) {
    const std::string where = "note " + jsonText(note->name) + " of " + jsonText(*note->folder);
    if (note->entries && note->entries->size() != count) {
      fail(where + ": " + std::to_string(count) + " entries, expected " +
           std::to_string(note->entries->size()));
    }
    std::string order;
    std::string created;
    for (std::size_t index = 0; index < count; ++index) {
      const Json& record = records[at++];
      const std::string here = where + ", entry " + std::to_string(index + 1);
      if (!record.is_object()) {
        fail(here + ": not an object");
      }
      const std::string keys = joined(keysOf(record));
      if (keys != "createdAt,entryDate,folder,id,notebook,order,text" &&
          keys != "createdAt,entryDate,folder,id,notebook,order,text,topic") {
        fail(here + ": keys " + keys);
      }
      for (const auto& item : record.items()) {
        if (!item.value().is_string()) {
          fail(here + ": " + item.key() + " is not a string");
        }
      }
      if (record["folder"] != *note->folder || record["notebook"] != note->name) {
        fail(here + ": folder " + record["folder"].dump() + ", notebook " +
             record["notebook"].dump());
      }
      const std::string& id = record["id"].get_ref<const std::string&>();
      if (!isUuidV4(id) || !ids.insert(id).second) {
        fail(here + ": id " + id + " is no new version-4 UUID");
      }
      const std::string& entryDate = record["entryDate"].get_ref<const std::string&>();
      const std::string& createdAt = record["createdAt"].get_ref<const std::string&>();
      if (!isUtcDate(entryDate) || !isUtcDate(createdAt)) {
        fail(here + ": dates " + entryDate + " " + createdAt);
      }
      // A note's creation date is its own when readable; the same for all its entries always.
      if (note->created ? createdAt != utcText(*note->created)
                        : index > 0 && createdAt != created) {
        fail(here + ": createdAt " + createdAt);
      }
      created = createdAt;
      const std::string& key = record["order"].get_ref<const std::string&>();
      if (index > 0 && !(order < key)) {
        fail(here + ": order " + jsonText(key) + " after " + jsonText(order));
      }
      order = key;
      if (note->entries) {
        const Expected& expected = (*note->entries)[index];
        if (record["text"] != expected.text || entryDate != utcText(expected.entryDate) ||
            record.contains("topic")) {
          fail(here + ": " + jsonText(record["text"].get<std::string>().substr(0, 200)) + " on " +
               entryDate + ", expected " + jsonText(expected.text.substr(0, 200)) + " on " +
               utcText(expected.entryDate));
        }
      }
    }
  }
}

}  // namespace

Outcome checkWholeExport(ByteSource& bytes, const Limits& limits,
                         const std::filesystem::path& dir) {
  Outcome outcome;
  outcome.zone = kZones[bytes.below(kZones.size())];
  const Zone zone(outcome.zone);
  Generator generator(bytes, limits, zone);
  outcome.library = generator.library();
  const std::optional<std::string> filter = generator.filter();
  const bool includeDeleted = bytes.chance(2);
  const Seconds now = zone.startOfDay({2025, 1, 1}) - 1 + static_cast<Seconds>(bytes.below(3));

  const std::filesystem::path outPath = dir / "export.json";
  std::filesystem::remove(outPath);
  outcome.arguments = {"sheafwright", "--out", outPath.string()};
  if (filter) {
    outcome.arguments.insert(outcome.arguments.end(), {"--folder", *filter});
  }
  if (includeDeleted) {
    outcome.arguments.push_back("--include-deleted");
  }
  const auto runner = makeLibraryTextScriptRunner(outcome.library, "lib.json");
  std::ostringstream out;
  std::ostringstream err;
  const int status = run(
      outcome.arguments,
      {.runner = *runner,
       .out = out,
       .err = err,
       .currentCalendar = [&outcome] { return Calendar(outcome.zone); },
       .now = [now] { return Date(std::chrono::seconds(now) + std::chrono::microseconds(999)); }});
  try {
    check(generator.elements(), filter, includeDeleted, now, status, out.str(), err.str(), outPath);
  } catch (const Failure& failure) {
    outcome.failure = failure.what;
  }
  return outcome;
}

std::string describe(const Outcome& outcome) {
  std::string text = outcome.failure + "\nzone " + outcome.zone + ", arguments";
  for (const std::string& argument : outcome.arguments) {
    text += " " + jsonText(argument);
  }
  return text + "\nlibrary:\n" + outcome.library;
}

}  // namespace sheafwright::wholeexport
