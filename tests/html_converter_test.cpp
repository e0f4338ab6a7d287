// Tests of the HTML-to-plain-text conversion and of entity decoding.
#include "sheafwright/html_converter.h"

#include "sheafwright/unicode_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace sheafwright {
namespace {

std::string repeat(std::string_view unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) {
    out += unit;
  }
  return out;
}

TEST(NotesHTMLConverterTest, ConvertsBodies) {
  struct Case {
    const char* name;
    std::string html;
    std::string expected;
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"only blocks and breaks", "<div><br></div><p>  </p><div>&nbsp;</div>", ""},
      {"plain text trimmed and decoded", "  Fish &amp; chips \n", "Fish & chips"},
      {"lists", "<div>Monday</div><ul><li>Eggs</li><li>Milk<ul><li>2 litres</li></ul></li></ul>",
       "Monday\n  \u2022 Eggs\n  \u2022 Milk\n    \u25E6 2 litres"},
      {"text inside a list without an item", "<ul>loose</ul>", "  \u2022 loose"},
      {"deep lists", "<ul><ul><ul><li>three</li><ul><li>four</li></ul></ul></ul></ul>",
       "      \u25C6 three\n        \u25C6 four"},
      {"indentation stops growing after sixteen levels", repeat("<ul>", 40) + "<li>x",
       std::string(32, ' ') + "\u25C6 x"},
      {"ordered lists get bullets", "<ol><li>one</li></ol>", "  \u2022 one"},
      {"case of tag names", "<DIV>a</DIV><Ul><LI>b</lI></uL>", "a\n  \u2022 b"},
      {"breaks", "a<br>b<br/>c<br />d<BR>e", "a\nb\nc\nd\ne"},
      {"self-closing div without a space is no break", "a<div/>b", "ab"},
      {"inline tags do not break", "<b>bold</b> text <span>and</span> <a href=\"x\">link</a>",
       "bold text and link"},
      {"cells do not break, rows do",
       "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", "ab\nc"},
      {"headings 1 to 3 break, 4 does not", "<h1>A</h1><h2>B</h2><h3>C</h3><h4>D</h4>E<hr>F",
       "A\nB\nC\nDEF"},
      {"attributes are ignored", "<div class=\"x\" style=\"y\">a</div><li value=3>b", "a\nb"},
      {"white space around the name is trimmed", "<\tdiv\t>a< p >b", "a\nb"},
      {"a tab or line feed after the name is part of it", "a<div\tclass=x>b<div\nclass=x>c<div\n>d",
       "abcd"},
      {"style, script and head are skipped",
       "a<style>p{}</style>b<SCRIPT>x()</Script >c<head><title>t</title></HEAD>d", "abcd"},
      {"closing tag in upper case", "<style>x</STYLE>y", "y"},
      {"unclosed style leaves its content", "<style>p {}<div>q", "p {}\nq"},
      {"closing tag without its >", "<style>x</style", ""},
      {"closing tag text then more text", "<style>x</stylez and more", "z and more"},
      {"closing tag matched only whole", "<style>x</styl>y", "xy"},
      {"each element skipped to its own closing tag", repeat("<style>x</style>y", 3), "yyy"},
      {"unclosed elements leave their content", repeat("<style>x", 3), "xxx"},
      {"an unclosed element hides no other's closing tag", "<style>a<script>b</script>c", "ac"},
      {"unclosed < ends the scan", "<div>kept</div>lost? <b and more", "kept\nlost?"},
      {"surplus list closings", "</ul></ol><li>a</li><ul><li>b</li></ul>", "a\n  \u2022 b"},
      {"line feed inside text splits unindented", "<ul><li>one\ntwo</li></ul>",
       "  \u2022 one\ntwo"},
      {"encoded angle brackets are text", "&lt;div&gt;x", "<div>x"},
      {"chained entities decode to one character each", repeat("&#38;#38;", 3), "&&&"},
      {"runs of spaces stay", "<div>a   b</div>", "a   b"},
      {"empty tag", "a<>b", "ab"},
      {"< joined to a combining mark is text", "a<\u0301div>b", "a<\u0301div>b"},
      {"> joined to a combining mark is no delimiter", "a<b>\u0301c>d", "ad"},
      {"< after a prepended character is text", "\u0600<div>x", "\u0600<div>x"},
      {"non-ASCII text", "<div>Caf\u00e9 \u65e5\u672c</div><ul><li>\u00fcber</li></ul>",
       "Caf\u00e9 \u65e5\u672c\n  \u2022 \u00fcber"},
      {"Kelvin sign lowercases to k: still no known tag", "a<\u212Abd>b", "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NotesHTMLConverter::plainText(c.html), c.expected);
  }
}

TEST(NotesHTMLConverterTest, DecodesEntities) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"no ampersand", "no ampersand"},
      {"a&nbsp;b", "a b"},
      {"&amp;&lt;&gt;&quot;&#39;&apos;", "&<>\"''"},
      {"&#8217;", "\u2019"},
      {"&#0065;", "A"},
      {"&#0;", std::string(1, '\0')},
      {"a&#55296;b&#1114112;c&#4294967296;d", "abcd"},
      {"&#1114111;", "\U0010FFFF"},
      {"x&#6\u0665;y", "xy"},
      {"&#65", "&#65"},
      {"&#x41;", "&#x41;"},
      {"&eacute;&AMP;&Amp;", "&eacute;&AMP;&Amp;"},
      {"&amp;#65;", "A"},
      {"&amp;amp;", "&amp;"},
      {"&amp;lt;", "&lt;"},
      {"&#3&#56;;", "&"},
      {"&#38;#38;#38;#65;", "A"},
      {"&#&#99999999999;38;", "&"},
      {"&#38;&#35;&#54;&#53;&#59;", "A"},
      // Notes writes four entities without their semicolon.
      {"Up &amp down", "Up & down"},
      {"&ltlaughs&gt", "<laughs>"},
      {"&quotfeature-branch.&quot", "\"feature-branch.\""},
      {"&ampamp;", "&amp;"},
      {"&nbsp &#39 &apos", "&nbsp &#39 &apos"},
      {"&amp&#59;", "&;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(NotesHTMLConverter::decodeEntities(c.text), c.expected);
  }
}

// The numeric step exactly as defined: find the leftmost match from the start, replace, repeat.
std::u32string literalNumericLoop(std::u32string text) {
  const auto isDigit = [](char32_t c) { return (c >= U'0' && c <= U'9') || c == U'\u0665'; };
  for (;;) {
    std::size_t start = std::u32string::npos;
    std::size_t end = 0;
    for (std::size_t i = 0; i + 3 < text.size() + 0 && start == std::u32string::npos; ++i) {
      if (text[i] != U'&' || text[i + 1] != U'#') {
        continue;
      }
      std::size_t j = i + 2;
      while (j < text.size() && isDigit(text[j])) {
        ++j;
      }
      if (j > i + 2 && j < text.size() && text[j] == U';') {
        start = i;
        end = j + 1;
      }
    }
    if (start == std::u32string::npos) {
      return text;
    }
    std::u32string digits = text.substr(start + 2, end - start - 3);
    unsigned long long value = 0;
    bool ok = true;
    for (char32_t d : digits) {
      if (d < U'0' || d > U'9') {
        ok = false;
        break;
      }
      value = value * 10 + (d - U'0');
      if (value > 0xFFFFFFFFULL) {
        ok = false;
        break;
      }
    }
    std::u32string replacement;
    if (ok && !(value >= 0xD800 && value <= 0xDFFF) && value < 0x110000) {
      replacement = std::u32string(1, static_cast<char32_t>(value));
    }
    text.replace(start, end - start, replacement);
  }
}

std::string utf8(const std::u32string& text) {
  std::string out;
  for (const char32_t c : text) {
    text::appendUtf8(out, c);
  }
  return out;
}

// Random texts over the characters that matter: the linear decoder agrees with the literal loop.
TEST(NotesHTMLConverterTest, NumericDecodingMatchesTheLiteralLoop) {
  const std::u32string alphabet = U"&#;0123456789x\u0665";
  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 24);
  for (int i = 0; i < 3000; ++i) {
    std::u32string text;
    const int n = length(random);
    for (int k = 0; k < n; ++k) {
      text += alphabet[pick(random)];
    }
    // No named entity can form from this alphabet except "&#39;", which decodes the same way.
    ASSERT_EQ(NotesHTMLConverter::decodeEntities(utf8(text)), utf8(literalNumericLoop(text)))
        << utf8(text);
  }
}

}  // namespace
}  // namespace sheafwright
