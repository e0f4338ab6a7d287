// Diary-like note bodies and library files made from a seeded random source.
#include "bench/library_generator.h"

#include <array>
#include <random>
#include <string_view>

namespace sheafwright::bench {

namespace {

constexpr std::array<std::string_view, 24> kAsciiWords = {
    "call",  "Anna",    "about", "the",     "contract", "garden", "tomatoes", "report",
    "train", "morning", "rain",  "coffee",  "with",     "Sam",    "meeting",  "notes",
    "walk",  "dog",     "read",  "chapter", "budget",   "fixed",  "bike",     "lunch"};

constexpr std::array<std::string_view, 24> kMixedWords = {
    "Anna",
    "caf\u00e9",
    "\u0432\u0441\u0442\u0440\u0435\u0447\u0430",
    "\u03ba\u03ae\u03c0\u03bf\u03c2",
    "\u65e5\u8a18",
    "\u6563\u6b69",
    "\u0645\u0648\u0639\u062f",
    "\u0915\u093e\u092e",
    "r\u00e9union",
    "\u00fcber",
    "\U0001F600",
    "\u2615",
    "\u4f1a\u8b70",
    "\u0434\u043e\u0436\u0434\u044c",
    "na\u00efve",
    "\u05e9\u05dc\u05d5\u05dd",
    "\uc77c\uae30",
    "\u0e01\u0e32\u0e23",
    "Stra\u00dfe",
    "\u00e7ay",
    "the",
    "with",
    "garden",
    "report"};

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

class Writer {
 public:
  Writer(Alphabet alphabet, std::uint32_t seed) : alphabet_(alphabet), random_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  std::string words(int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
      if (i > 0) {
        out += ' ';
      }
      out += alphabet_ == Alphabet::kAscii ? kAsciiWords[below(24)] : kMixedWords[below(24)];
      if (below(12) == 0) {
        out += below(2) ? " &amp; " : "&nbsp;&#8217;s";
      }
    }
    return out;
  }

  std::string dateHeader() {
    const int day = 1 + below(28);
    const int month = 1 + below(12);
    switch (below(4)) {
      case 0:
        return std::to_string(day) + "-" + std::string(kMonths[month - 1]);
      case 1:
        return "2024-" + std::to_string(month) + "-" + std::to_string(day);
      case 2:
        return std::string(kMonths[month - 1]) + (below(2) ? ". " : " ") + std::to_string(day);
      default:
        return std::to_string(day) + "/" + std::to_string(month) + "/2024";
    }
  }

  void day(std::string& out) {
    out += "<div>" + dateHeader() + (below(3) == 0 ? ":" : "") + "</div>";
    for (int i = below(3); i > 0; --i) {
      out += "<div>" + words(4 + below(10)) + "</div>";
    }
    out += "<ul>";
    for (int topic = below(3); topic >= 0; --topic) {
      out += "<li>" + words(1 + below(2));
      if (below(3) > 0) {
        out += "<ul>";
        for (int item = 1 + below(4); item > 0; --item) {
          out += "<li>" + words(3 + below(8));
          if (below(4) == 0) {
            out +=
                "<ul><li>" + words(3 + below(6)) + "</li><li>" + words(2 + below(5)) + "</li></ul>";
          }
          out += "</li>";
        }
        out += "</ul>";
      }
      out += "</li>";
    }
    out += "</ul><div><br></div>";
  }

  void image(std::string& out, std::size_t bytes) {
    static constexpr std::string_view kBase64 =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out += "<div><img src=\"data:image/png;base64,";
    for (std::size_t i = 0; i < bytes; ++i) {
      out += kBase64[static_cast<std::size_t>(below(64))];
    }
    out += "==\" width=\"640\"></div>";
  }

 private:
  Alphabet alphabet_;
  std::mt19937 random_;
};

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  out += '"';
}

}  // namespace

std::string diaryBody(std::size_t bytes, Alphabet alphabet, std::uint32_t seed) {
  Writer writer(alphabet, seed);
  std::string body =
      "<div><h1>" + writer.words(3) + "</h1></div><div>" + writer.words(8) + "</div>";
  while (body.size() < bytes) {
    writer.day(body);
  }
  return body;
}

GeneratedLibrary generateLibrary(const LibraryShape& shape) {
  static constexpr std::array<std::string_view, 5> kFolders = {"Journal 2023", "Journal 2024",
                                                               "Travel", "Work", "Notes"};
  Writer writer(shape.alphabet, shape.seed);
  GeneratedLibrary library;
  library.json = "[\n";
  std::uint32_t noteSeed = shape.seed;
  while (library.htmlBytes < shape.htmlBytes) {
    std::string body =
        diaryBody(static_cast<std::size_t>(2000 + writer.below(30000)), shape.alphabet, ++noteSeed);
    // One note in forty carries a pasted image of one to three megabytes.
    if (shape.withImages && shape.htmlBytes >= (8u << 20) && writer.below(40) == 0) {
      writer.image(body, static_cast<std::size_t>(1 + writer.below(3)) << 20);
    }
    if (library.notes > 0) {
      library.json += ",\n";
    }
    library.json += "[";
    appendJsonString(library.json, kFolders[static_cast<std::size_t>(writer.below(5))]);
    library.json += ", ";
    appendJsonString(library.json, writer.words(2));
    library.json += ", ";
    appendJsonString(library.json, body);
    library.json += ", {\"date\": \"2024-0" + std::to_string(1 + writer.below(9)) + "-1" +
                    std::to_string(writer.below(10)) + "T0" + std::to_string(writer.below(10)) +
                    ":30:00Z\"}, {\"date\": \"2024-10-01T12:00:00Z\"}]";
    library.htmlBytes += body.size();
    ++library.notes;
  }
  library.json += "\n]\n";
  return library;
}

}  // namespace sheafwright::bench
