#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TransformTestSupport.h"
#include "transforms/HtmlEntities.h"
#include "transforms/HtmlEntityDecodeFilter.h"
#include "transforms/HtmlEntityEncodeFilter.h"
#include "transforms/TransformSupport.h"

namespace ordana {
namespace {

using test::Show;
using test::TransformChain;

// The entity names of HTML 4.01 in ascending order of their code points, as
// the three entity sets of the HTML 4.01 DTD list them (Latin-1, then the
// symbols and Greek letters and the special characters merged by code
// point). Reference data, typed independently of the generated table.
const char* const kNamesByCodePoint =
    "quot amp lt gt nbsp iexcl cent pound curren yen brvbar sect uml copy ordf laquo not shy reg "
    "macr deg plusmn sup2 sup3 acute micro para middot cedil sup1 ordm raquo frac14 frac12 frac34 "
    "iquest Agrave Aacute Acirc Atilde Auml Aring AElig Ccedil Egrave Eacute Ecirc Euml Igrave "
    "Iacute Icirc Iuml ETH Ntilde Ograve Oacute Ocirc Otilde Ouml times Oslash Ugrave Uacute Ucirc "
    "Uuml Yacute THORN szlig agrave aacute acirc atilde auml aring aelig ccedil egrave eacute "
    "ecirc "
    "euml igrave iacute icirc iuml eth ntilde ograve oacute ocirc otilde ouml divide oslash ugrave "
    "uacute ucirc uuml yacute thorn yuml OElig oelig Scaron scaron Yuml fnof circ tilde Alpha Beta "
    "Gamma Delta Epsilon Zeta Eta Theta Iota Kappa Lambda Mu Nu Xi Omicron Pi Rho Sigma Tau "
    "Upsilon "
    "Phi Chi Psi Omega alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi "
    "omicron pi rho sigmaf sigma tau upsilon phi chi psi omega thetasym upsih piv ensp emsp thinsp "
    "zwnj zwj lrm rlm ndash mdash lsquo rsquo sbquo ldquo rdquo bdquo dagger Dagger bull hellip "
    "permil prime Prime lsaquo rsaquo oline frasl euro image weierp real trade alefsym larr uarr "
    "rarr darr harr crarr lArr uArr rArr dArr hArr forall part exist empty nabla isin notin ni "
    "prod "
    "sum minus lowast radic prop infin ang and or cap cup int there4 sim cong asymp ne equiv le ge "
    "sub sup nsub sube supe oplus otimes perp sdot lceil rceil lfloor rfloor lang rang loz spades "
    "clubs hearts diams";

std::vector<std::string> ReferenceNames() {
  std::istringstream words(kNamesByCodePoint);
  std::vector<std::string> names;
  for (std::string word; words >> word;) names.push_back(word);
  return names;
}

std::string Narrow(const char16_t* name) {
  std::string result;
  for (; *name; ++name) result += static_cast<char>(*name);
  return result;
}

// ---- The tables -------------------------------------------------------------------

TEST(HtmlEntityTableTest, CodePointOrderHasTheNamesOfHtml401) {
  const std::vector<std::string> names = ReferenceNames();
  ASSERT_EQ(names.size(), kHtmlEntityCount);
  for (std::uint32_t row = 0; row < kHtmlEntityCount; ++row) {
    EXPECT_EQ(Narrow(EntityByCodePoint[row].name), names[row]) << "row " << row;
    EXPECT_EQ(EntityByCodePoint[row].length, names[row].size()) << "row " << row;
    if (row > 0) {
      EXPECT_LT(EntityByCodePoint[row - 1].codePoint, EntityByCodePoint[row].codePoint) << row;
    }
    EXPECT_LE(EntityByCodePoint[row].codePoint, 0xFFFFu);
    EXPECT_NE(EntityByCodePoint[row].codePoint, 0x27u) << "the apostrophe has no name";
  }
}

TEST(HtmlEntityTableTest, RowsTheRulesRelyOn) {
  const std::pair<std::uint32_t, std::pair<const char*, std::uint32_t>> rows[] = {
      {0, {"quot", 0x22}},     {1, {"amp", 0x26}},       {2, {"lt", 0x3C}},
      {3, {"gt", 0x3E}},       {4, {"nbsp", 0xA0}},      {99, {"yuml", 0xFF}},
      {126, {"Tau", 0x3A4}},   {187, {"image", 0x2111}}, {188, {"weierp", 0x2118}},
      {245, {"lang", 0x2329}}, {246, {"rang", 0x232A}},  {251, {"diams", 0x2666}},
  };
  for (const auto& [row, entity] : rows) {
    EXPECT_EQ(Narrow(EntityByCodePoint[row].name), entity.first) << row;
    EXPECT_EQ(EntityByCodePoint[row].codePoint, entity.second) << row;
  }
  for (std::uint32_t row = 4; row <= 99; ++row) {
    EXPECT_EQ(EntityByCodePoint[row].codePoint, 0xA0 + row - 4) << "every code point of A0..FF";
  }
  EXPECT_EQ(kEntitySplitRow, 126u);
  EXPECT_EQ(kEntitySplitCodePoint, 0x3A4);
}

TEST(HtmlEntityTableTest, NameOrderHoldsTheSamePairsByCodeUnit) {
  std::set<std::pair<std::uint32_t, std::string>> byCodePoint;
  std::set<std::pair<std::uint32_t, std::string>> byName;
  for (std::uint32_t row = 0; row < kHtmlEntityCount; ++row) {
    byCodePoint.insert({EntityByCodePoint[row].codePoint, Narrow(EntityByCodePoint[row].name)});
    byName.insert({EntityByName[row].codePoint, Narrow(EntityByName[row].name)});
    if (row > 0) {
      EXPECT_LT(std::u16string(EntityByName[row - 1].name), std::u16string(EntityByName[row].name))
          << row;
    }
    EXPECT_EQ(EntityByName[row].length, std::char_traits<char16_t>::length(EntityByName[row].name));
  }
  EXPECT_EQ(byName, byCodePoint);
  EXPECT_EQ(byName.size(), kHtmlEntityCount);
  const char* const first[] = {"AElig", "Aacute", "Acirc", "Agrave", "Alpha"};
  for (std::uint32_t row = 0; row < 5; ++row) EXPECT_EQ(Narrow(EntityByName[row].name), first[row]);
  const char* const last[] = {"yuml", "zeta", "zwj", "zwnj"};
  for (std::uint32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(Narrow(EntityByName[kHtmlEntityCount - 4 + k].name), last[k]);
  }
}

TEST(HtmlEntityTableTest, SplitSearchFindsWhatALinearScanFinds) {
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    int expected = -1;
    for (std::uint32_t row = 0; row < kHtmlEntityCount; ++row) {
      if (EntityByCodePoint[row].codePoint == unit) expected = static_cast<int>(row);
    }
    ASSERT_EQ(FindEntityByCodePoint(static_cast<char16_t>(unit)), expected) << unit;
    // The encoder's fast path skips only units without a name.
    if (expected >= 0) {
      ASSERT_TRUE(IsEntityCandidate(static_cast<char16_t>(unit), false)) << unit;
      if (expected >= 4) {
        ASSERT_TRUE(IsEntityCandidate(static_cast<char16_t>(unit), true)) << unit;
      }
    }
  }
}

TEST(HtmlEntityTableTest, NameSearchIsExactAndCaseSensitive) {
  for (std::uint32_t row = 0; row < kHtmlEntityCount; ++row) {
    const std::u16string name = EntityByName[row].name;
    EXPECT_EQ(FindEntityByName(name.data(), static_cast<std::uint32_t>(name.size())),
              static_cast<int>(row));
    const std::u16string shorter = name.substr(0, name.size() - 1);
    const int shorterRow =
        FindEntityByName(shorter.data(), static_cast<std::uint32_t>(shorter.size()));
    if (shorterRow >= 0) {
      EXPECT_EQ(std::u16string(EntityByName[shorterRow].name), shorter);
    }
    const std::u16string longer = name + u"x";
    EXPECT_EQ(FindEntityByName(longer.data(), static_cast<std::uint32_t>(longer.size())), -1)
        << Narrow(name.c_str());
  }
  EXPECT_EQ(FindEntityByName(u"AUML", 4), -1);
  EXPECT_NE(FindEntityByName(u"Auml", 4), FindEntityByName(u"auml", 4));
  EXPECT_EQ(FindEntityByName(u"", 0), -1);
  EXPECT_EQ(FindEntityByName(u"thetasym", 8), FindEntityByName(u"thetasymX", 8));
}

TEST(HtmlEntityTableTest, LettersAndDigitsOfEveryScript) {
  for (char16_t unit : std::u16string(u"azAZ09\u00e9\u00c4\u0416\u05d0\u0663\u4e2d\u3042\u0101")) {
    EXPECT_TRUE(IsLetterOrDigit(unit)) << static_cast<int>(unit);
  }
  for (char16_t unit : std::u16string(u" ;&#_-.\t\u00b2\u00bd\u00ad\u00a0\u2028\u3000\u0301")) {
    EXPECT_FALSE(IsLetterOrDigit(unit)) << static_cast<int>(unit);
  }
  for (char16_t unit : {char16_t{0xD800}, char16_t{0xDFFF}, char16_t{0xFFFF}, char16_t{0}}) {
    EXPECT_FALSE(IsLetterOrDigit(unit)) << static_cast<int>(unit);
  }
  for (std::uint32_t k = 1; k < kLetterOrDigitRangeCount; ++k) {
    ASSERT_LT(kLetterOrDigitRanges[k - 1].last + 1, kLetterOrDigitRanges[k].first) << k;
  }
}

// ---- Encoder ----------------------------------------------------------------------

// The rule, one unit at a time, with a linear scan of the table.
std::u16string EncodeReference(const std::u16string& text, bool keepMarkup) {
  std::u16string result;
  for (char16_t unit : text) {
    const HtmlEntity* found = nullptr;
    for (std::uint32_t row = 0; row < kHtmlEntityCount; ++row) {
      if (EntityByCodePoint[row].codePoint == unit && !(keepMarkup && row < 4)) {
        found = &EntityByCodePoint[row];
      }
    }
    if (found) {
      result += u'&';
      result += found->name;
      result += u';';
    } else {
      result += unit;
    }
  }
  return result;
}

struct EntityCase {
  const char* what;
  std::u16string input;
  std::u16string output;
};

TEST(HtmlEntityEncodeTest, Table) {
  const EntityCase plain[] = {
      {"e acute", u"\u00e9", u"&eacute;"},
      {"no-break space", u"\u00a0", u"&nbsp;"},
      {"euro", u"\u20ac", u"&euro;"},
      {"image", u"\u2111", u"&image;"},
      {"letters and the apostrophe pass", u"A'b", u"A'b"},
      {"markup", u"<a href=\"x\">&</a>", u"&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;"},
      {"a reference already there", u"&amp;", u"&amp;amp;"},
      {"lang is U+2329", u"\u2329\u232a\u27e8", u"&lang;&rang;\u27e8"},
      {"beyond the BMP", u"\U0001F600", u"\U0001F600"},
      {"longest", u"\u03d1", u"&thetasym;"},
      {"split row", u"\u03a3\u03a4\u03a5", u"&Sigma;&Tau;&Upsilon;"},
      {"ends of the table", u"\"\u2666", u"&quot;&diams;"},
      {"numbers stay", u"\u00bd 1/2", u"&frac12; 1/2"},
      {"Cyrillic has no names", u"\u0416\u0436", u"\u0416\u0436"},
      {"empty", u"", u""},
  };
  for (const EntityCase& c : plain) {
    TransformChain chain(new CHtmlEntityEncodeFilter(false));
    EXPECT_EQ(Show(chain.RunEverySplit(c.input)), Show(c.output)) << c.what;
    EXPECT_EQ(Show(EncodeReference(c.input, false)), Show(c.output)) << c.what;
  }
  const EntityCase keepMarkup[] = {
      {"markup kept", u"<a href=\"x\">&amp;</a>", u"<a href=\"x\">&amp;</a>"},
      {"the rest encoded", u"<p>caf\u00e9</p>", u"<p>caf&eacute;</p>"},
  };
  for (const EntityCase& c : keepMarkup) {
    TransformChain chain(new CHtmlEntityEncodeFilter(true));
    EXPECT_EQ(Show(chain.RunEverySplit(c.input)), Show(c.output)) << c.what;
  }
}

TEST(HtmlEntityEncodeTest, TenfoldOutputIsForwardedWholeAtTheCommitSize) {
  TransformChain chain(new CHtmlEntityEncodeFilter(false));
  const std::size_t units = std::size_t{1} << 20;
  const std::u16string output = chain.Run(std::u16string(units, u'\u03d1'));
  ASSERT_EQ(output.size(), 10 * units);
  std::u16string expected;
  for (std::size_t k = 0; k < units; ++k) expected += u"&thetasym;";
  EXPECT_TRUE(output == expected);
  const std::vector<std::uint32_t>& calls = chain.sink().calls;
  for (std::size_t k = 0; k + 1 < calls.size(); ++k) {
    EXPECT_EQ(calls[k], CBuffer::kCommitSize) << k;
  }
}

TEST(HtmlEntityEncodeTest, RandomTextAtRandomCutsMatchesTheRule) {
  std::mt19937 rng(4301);
  const std::u16string alphabet =
      u"<>&\"' \u00e9\u00a0\u03d1\u03a4\u20ac\u2666\u0416\u4e2d\u2329\U0001F600";
  for (int round = 0; round < 400; ++round) {
    const bool keepMarkup = (rng() & 1) != 0;
    const std::u16string text = test::RandomText(rng, rng() % 150, alphabet);
    const std::string bytes = test::Utf16(text);
    TransformChain chain(new CHtmlEntityEncodeFilter(keepMarkup));
    const std::u16string expected = EncodeReference(text, keepMarkup);
    ASSERT_EQ(Show(test::FromUtf16(chain.RunBytes(bytes, test::RandomSplits(rng, bytes.size())))),
              Show(expected));
  }
}

TEST(HtmlEntityEncodeTest, ShiftedAndRepeatedTextMatchesTheRule) {
  const std::u16string sample =
      u"Caf\u00e9 <b>\u201cna\u00efve\u201d</b> & \u03b1\u03b2 \u2014 ok.\n";
  TransformChain chain(new CHtmlEntityEncodeFilter(false));
  for (std::size_t shift = 0; shift < 32; ++shift) {
    const std::u16string text = std::u16string(shift, u'x') + sample;
    ASSERT_EQ(Show(chain.Run(text, {2 * shift + 5})), Show(EncodeReference(text, false)));
  }
  for (std::size_t repeat : {0, 1, 2, 10, 123, 4567, 40000}) {
    std::u16string text;
    for (std::size_t k = 0; k < repeat; ++k) text += sample;
    const std::string bytes = test::Utf16(text);
    std::vector<std::size_t> splits;
    for (std::size_t at = CBuffer::kCommitSize; at < bytes.size(); at += CBuffer::kCommitSize) {
      splits.push_back(at);
    }
    ASSERT_TRUE(chain.Run(text, splits) == EncodeReference(text, false)) << repeat;
  }
}

TEST(HtmlEntityEncodeTest, FastPathAgreesWithThePlainLoop) {
  std::mt19937 rng(909);
  const char16_t interesting[] = {u'"',  u'&',   u'<',   u'>',   u'\'',  0x9F,   0xA0,   0x3D6,
                                  0x3D7, 0x2001, 0x2002, 0x2666, 0x2667, 0x2226, 0xFFFF, 0x8000};
  for (int round = 0; round < 4000; ++round) {
    const bool keepMarkup = (rng() & 1) != 0;
    const std::size_t count = rng() % 70;
    const std::size_t offset = rng() % 3;
    std::string in(offset + 2 * count, '\0');
    for (std::size_t k = 0; k < count; ++k) {
      char16_t unit = static_cast<char16_t>(u'a' + rng() % 26);
      const unsigned pick = rng() % 30;
      if (pick == 0) unit = static_cast<char16_t>(rng() & 0xFFFF);
      if (pick == 1) unit = interesting[rng() % (sizeof interesting / sizeof interesting[0])];
      in[offset + 2 * k] = static_cast<char>(unit & 0xFF);
      in[offset + 2 * k + 1] = static_cast<char>(unit >> 8);
    }
    std::size_t expected = 0;
    while (expected < count &&
           !IsEntityCandidate(static_cast<char16_t>(
                                  static_cast<std::uint8_t>(in[offset + 2 * expected]) |
                                  (static_cast<std::uint8_t>(in[offset + 2 * expected + 1]) << 8)),
                              keepMarkup)) {
      ++expected;
    }
    std::string out(2 * count + 16, '\x5A');
    const std::uint32_t got = CopyUntilEntityCandidate(
        reinterpret_cast<const std::uint8_t*>(in.data() + offset),
        static_cast<std::uint32_t>(count), reinterpret_cast<std::uint8_t*>(&out[0]), keepMarkup);
    ASSERT_EQ(got, expected);
    ASSERT_EQ(out.substr(0, 2 * got), in.substr(offset, 2 * got));
    ASSERT_EQ(out.substr(2 * count), std::string(16, '\x5A'));
  }
  // The candidate test itself against its definition, for every unit.
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    const bool markup = unit == u'"' || unit == u'&' || unit == u'<' || unit == u'>';
    const bool inRanges = (unit >= 0xA0 && unit <= 0x3D6) || (unit >= 0x2002 && unit <= 0x2666);
    ASSERT_EQ(IsEntityCandidate(static_cast<char16_t>(unit), false), markup || inRanges) << unit;
    ASSERT_EQ(IsEntityCandidate(static_cast<char16_t>(unit), true), inRanges) << unit;
  }
}

TEST(HtmlEntityEncodeTest, NameTypeAndMarkup) {
  CHtmlEntityEncodeFilter filter(true);
  EXPECT_EQ(std::u16string(filter.GetName()), u"HTML Entity Encode Filter");
  EXPECT_EQ(filter.GetType(), 43u);
  EXPECT_EQ(filter.category(), 16u);
  EXPECT_TRUE(filter.keepMarkup());
  EXPECT_FALSE(CHtmlEntityEncodeFilter(false).keepMarkup());
}

// ---- Decoder ----------------------------------------------------------------------

std::u16string Collected(const std::u16string& name) { return u"&" + name; }

// The rule, one unit at a time over the whole text, with a linear scan of the
// table; an attempt still open at the end is written as it is.
std::u16string DecodeReference(const std::u16string& text) {
  std::u16string result;
  bool inReference = false;
  std::u16string name;
  for (char16_t ch : text) {
    if (!inReference) {
      if (ch == u'&') {
        inReference = true;
        name.clear();
      } else {
        result += ch;
      }
      continue;
    }
    if (ch == u';') {
      inReference = false;
      const HtmlEntity* found = nullptr;
      for (std::uint32_t row = 0; row < kHtmlEntityCount; ++row) {
        if (name == EntityByName[row].name) found = &EntityByName[row];
      }
      if (found) {
        result += static_cast<char16_t>(found->codePoint);
      } else {
        result += Collected(name) + u";";
      }
    } else if (IsLetterOrDigit(ch)) {
      name += ch;
      if (name.size() == 10) {
        result += Collected(name);
        inReference = false;
      }
    } else {
      result += Collected(name) + ch;
      inReference = false;
    }
  }
  if (inReference) result += Collected(name);
  return result;
}

TEST(HtmlEntityDecodeTest, Table) {
  const EntityCase cases[] = {
      {"a umlaut", u"&auml;", u"\u00e4"},
      {"capital A umlaut", u"&Auml;", u"\u00c4"},
      {"decoded once", u"&amp;lt;", u"&lt;"},
      {"empty name", u"&;", u"&;"},
      {"unknown name", u"&nosuchname;", u"&nosuchname;"},
      {"decimal reference", u"&#8364;", u"&#8364;"},
      {"hexadecimal reference", u"&#x20AC;", u"&#x20AC;"},
      {"a second ampersand starts nothing", u"&&amp;", u"&&amp;"},
      {"gives up at the tenth letter", u"&abcdefghijk;", u"&abcdefghijk;"},
      {"after giving up a new reference starts", u"&abcdefghij&amp;", u"&abcdefghij&"},
      {"nine letters, then an ampersand", u"&abcdefghi&amp;", u"&abcdefghi&amp;"},
      {"no semicolon", u"&nbsp x", u"&nbsp x"},
      {"case matters", u"&AUML;&Auml;", u"&AUML;\u00c4"},
      {"longest name", u"&thetasym;", u"\u03d1"},
      {"markup", u"&lt;p&gt; &quot;x&quot;", u"<p> \"x\""},
      {"open at the end is written", u"x &eac", u"x &eac"},
      {"ampersand at the end", u"a&", u"a&"},
      {"letters of other scripts continue the name", u"&abcdefgh\u00e9&amp;",
       u"&abcdefgh\u00e9&amp;"},
      {"other units end it", u"&abcdefgh\u00b2&amp;", u"&abcdefgh\u00b2&"},
      {"surrogates end it", u"&amp\U0001F600;", u"&amp\U0001F600;"},
      {"lang", u"&lang;&rang;", u"\u2329\u232a"},
      {"plain text", u"no references here.", u"no references here."},
      {"empty", u"", u""},
  };
  for (const EntityCase& c : cases) {
    TransformChain chain(new CHtmlEntityDecodeFilter());
    EXPECT_EQ(Show(chain.RunEverySplit(c.input)), Show(c.output)) << c.what;
    EXPECT_EQ(Show(DecodeReference(c.input)), Show(c.output)) << c.what;
  }
}

TEST(HtmlEntityDecodeTest, EveryNameDecodesAndEveryUnitRoundTrips) {
  TransformChain decoder(new CHtmlEntityDecodeFilter());
  TransformChain encoder(new CHtmlEntityEncodeFilter(false));
  std::u16string references;
  std::u16string characters;
  for (std::uint32_t row = 0; row < kHtmlEntityCount; ++row) {
    references += u"&" + std::u16string(EntityByName[row].name) + u";";
    characters += static_cast<char16_t>(EntityByName[row].codePoint);
  }
  EXPECT_EQ(Show(decoder.Run(references)), Show(characters));
  // Encoding without markup kept turns every '&' into a reference, so
  // decoding gives back any text.
  std::mt19937 rng(4401);
  for (int round = 0; round < 200; ++round) {
    const std::u16string text = test::RandomText(rng, rng() % 100, u"&;#<>\u00e9\u03d1 x");
    ASSERT_EQ(Show(decoder.Run(encoder.Run(text))), Show(text));
  }
}

TEST(HtmlEntityDecodeTest, ReferenceCutBetweenChunks) {
  TransformChain chain(new CHtmlEntityDecodeFilter());
  const std::u16string text = u"caf&eacute; ok";
  // "&eac" ends the first chunk, "ute;" starts the second.
  EXPECT_EQ(Show(chain.Run(text, {2 * 7})), Show(u"caf\u00e9 ok"));
}

TEST(HtmlEntityDecodeTest, ResetForgetsAnOpenReference) {
  TransformChain chain(new CHtmlEntityDecodeFilter());
  CBuffer input;
  const std::string bytes = test::Utf16(u"a&eac");
  EXPECT_TRUE(input.Append(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  EXPECT_TRUE(chain.chain().Process(input, 0));
  EXPECT_EQ(Show(test::FromUtf16(chain.sink().received)), "a");
  chain.chain().Reset();
  // The next input starts idle: "ute;" is plain text.
  EXPECT_EQ(Show(chain.Run(u"ute;")), "ute;");
}

TEST(HtmlEntityDecodeTest, RandomTextAtRandomCutsMatchesTheRule) {
  std::mt19937 rng(4402);
  const std::u16string alphabet = u"&&&;;#amplteaucutAUML\u00e9\u00b2 x\U0001F600";
  for (int round = 0; round < 600; ++round) {
    std::u16string text = test::RandomText(rng, rng() % 150, alphabet);
    // Real names among the noise.
    for (int k = 0; k < 3; ++k) {
      const std::size_t at = text.empty() ? 0 : rng() % text.size();
      text.insert(at, u"&" + std::u16string(EntityByName[rng() % kHtmlEntityCount].name) + u";");
    }
    const std::string bytes = test::Utf16(text);
    TransformChain chain(new CHtmlEntityDecodeFilter());
    ASSERT_EQ(Show(test::FromUtf16(chain.RunBytes(bytes, test::RandomSplits(rng, bytes.size())))),
              Show(DecodeReference(text)));
  }
}

TEST(HtmlEntityDecodeTest, LargeInputWithReferencesAcrossChunkEnds) {
  // References at every offset against the 2 MiB chunks; the whole batch
  // of a full buffer at once as well.
  const std::u16string sample = u"x&eacute;y&amp;&lt;z&#38;&nosuch; &Auml;\n";
  std::u16string text;
  while (text.size() < 3 * CBuffer::kCommitSize / 2) text += sample;
  const std::string bytes = test::Utf16(text);
  const std::u16string expected = DecodeReference(text);
  TransformChain chain(new CHtmlEntityDecodeFilter());
  for (std::size_t chunk :
       {std::size_t{CBuffer::kCommitSize}, std::size_t{CBuffer::kCommitSize + 6},
        std::size_t{CBuffer::kReservationSize}}) {
    std::vector<std::size_t> splits;
    for (std::size_t at = chunk; at < bytes.size(); at += chunk) splits.push_back(at);
    ASSERT_TRUE(chain.Run(text, splits) == expected) << chunk;
    for (std::uint32_t piece : chain.sink().calls) EXPECT_LE(piece, CBuffer::kCommitSize);
  }
}

TEST(HtmlEntityDecodeTest, NameAndType) {
  CHtmlEntityDecodeFilter filter;
  EXPECT_EQ(std::u16string(filter.GetName()), u"HTML Entity Decode Filter");
  EXPECT_EQ(filter.GetType(), 44u);
  EXPECT_EQ(filter.category(), 16u);
}

TEST(TransformSupportTest, CopyUntilUnitAgreesWithThePlainLoop) {
  std::mt19937 rng(910);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t count = rng() % 70;
    const std::size_t offset = rng() % 3;
    const char16_t stop = (rng() & 1) ? u'&' : u'<';
    std::string in(offset + 2 * count, '\0');
    for (std::size_t k = 0; k < count; ++k) {
      char16_t unit = static_cast<char16_t>(rng() & 0xFFFF);
      if (rng() % 30 == 0) unit = stop;
      if (rng() % 30 == 0) unit = static_cast<char16_t>(stop << 8);
      in[offset + 2 * k] = static_cast<char>(unit & 0xFF);
      in[offset + 2 * k + 1] = static_cast<char>(unit >> 8);
    }
    std::size_t expected = 0;
    while (expected < count && !(static_cast<std::uint8_t>(in[offset + 2 * expected]) == stop &&
                                 in[offset + 2 * expected + 1] == 0)) {
      ++expected;
    }
    std::string out(2 * count + 16, '\x5A');
    const std::uint32_t got = CopyUntilUnit(
        reinterpret_cast<const std::uint8_t*>(in.data() + offset),
        static_cast<std::uint32_t>(count), reinterpret_cast<std::uint8_t*>(&out[0]), stop);
    ASSERT_EQ(got, expected);
    ASSERT_EQ(out.substr(0, 2 * got), in.substr(offset, 2 * got));
    ASSERT_EQ(out.substr(2 * count), std::string(16, '\x5A'));
  }
}

}  // namespace
}  // namespace ordana
