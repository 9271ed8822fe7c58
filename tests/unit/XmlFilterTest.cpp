#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TransformTestSupport.h"
#include "transforms/XmlFilter.h"

namespace ordana {
namespace {

using test::Show;
using test::TransformChain;

// ---- A reference over the whole text ---------------------------------------------

bool White(char16_t c) { return c == u'\t' || c == u'\n' || c == u'\r' || c == u' '; }

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool EqualsIgnoringCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (Lower(a[k]) != Lower(b[k])) return false;
  }
  return true;
}

// The declaration rule applied to a whole text at once (so every '<' sees
// all the units behind it): white space outside quotes collapses inside a
// declaration, the value after "encoding=" is replaced at its closing quote,
// and after the '>' of a rewritten declaration the rest passes untouched.
struct ReferenceState {
  int quote = 0;  // 0 none, 1 double, 2 single
  char16_t previous = 0;
  std::u16string name;
  bool inDeclaration = false;
  int skip = 0;
  bool suppressing = false;
};

std::u16string XmlReference(const std::u16string& text, const std::u16string& destination,
                            ReferenceState& s) {
  std::u16string out;
  bool replaced = false;
  auto collect = [&](char16_t c) {
    if (s.name.size() < 99) s.name += c;
  };
  for (std::size_t d = 0; d < text.size(); ++d) {
    char16_t ch = text[d];
    bool emit = false;
    if (s.inDeclaration) {
      if (s.skip > 0) {
        --s.skip;
      } else if (White(ch)) {
        if (s.quote == 0) {
          ch = u' ';
          if (White(s.previous)) continue;
        } else {
          collect(ch);
        }
      } else if (ch == u'\'' || ch == u'"') {
        const int kind = ch == u'"' ? 1 : 2;
        if (s.quote == 0) {
          s.quote = kind;
        } else if (s.quote != kind) {
          collect(ch);
        } else {
          s.quote = 0;
          s.name.clear();
          if (s.suppressing) {
            emit = true;
            s.suppressing = false;
          }
        }
      } else if (ch == u'=' && s.quote == 0) {
        const bool isEncoding = EqualsIgnoringCase(s.name, u"encoding");
        s.name.clear();
        if (isEncoding) s.suppressing = true;
      } else {
        collect(ch);
      }
    }
    if (emit) {
      out += u'=';
      out += ch;
      out += destination;
      replaced = true;
    }
    if (ch == u'<') {
      s.quote = 0;
      s.name.clear();
      if (d + 5 < text.size() && EqualsIgnoringCase(text.substr(d + 1, 4), u"?xml") &&
          White(text[d + 5])) {
        s.inDeclaration = true;
        s.skip = 5;
      }
    } else if (ch == u'>') {
      s.inDeclaration = false;
      s.quote = 0;
      s.suppressing = false;
      out += ch;
      s.previous = ch;
      if (replaced) return out + text.substr(d + 1);
      continue;
    }
    if (!s.suppressing) out += ch;
    s.previous = ch;
  }
  return out;
}

std::u16string XmlReference(const std::u16string& text, const std::u16string& destination) {
  ReferenceState clean;
  return XmlReference(text, destination, clean);
}

// ---- Cases ------------------------------------------------------------------------

struct XmlCase {
  const char* what;
  std::u16string input;
  std::u16string output;
};

TEST(XmlFilterTest, Table) {
  const XmlCase cases[] = {
      {"double quotes", u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a/>",
       u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<a/>"},
      {"the quote kind stays", u"<?xml version='1.0' encoding='latin1'?>",
       u"<?xml version='1.0' encoding='utf-8'?>"},
      {"white space collapses outside quotes", u"<?xml  version=\"1.0\"\r\nencoding=\"x\"?>",
       u"<?xml version=\"1.0\" encoding=\"utf-8\"?>"},
      {"the five units after '<' are copied", u"<?xml\t\tversion=\"1.0\"\tencoding=\"x\"?>",
       u"<?xml\tversion=\"1.0\" encoding=\"utf-8\"?>"},
      {"white space inside quotes stays", u"<?xml version=\"1.0 \t x\" encoding=\"a b\"?>",
       u"<?xml version=\"1.0 \t x\" encoding=\"utf-8\"?>"},
      {"around the equals sign", u"<?xml version=\"1.0\" encoding = \"x\"?>",
       u"<?xml version=\"1.0\" encoding =\"utf-8\"?>"},
      {"case is ignored", u"<?XML version=\"1.0\" Encoding=\"x\"?>",
       u"<?XML version=\"1.0\" Encoding=\"utf-8\"?>"},
      {"ENCODING", u"<?xMl version=\"1.0\" ENCODING='x'?>",
       u"<?xMl version=\"1.0\" ENCODING='utf-8'?>"},
      {"a stylesheet instruction is no declaration",
       u"<?xml-stylesheet href=\"a\"  encoding=\"x\"?>",
       u"<?xml-stylesheet href=\"a\"  encoding=\"x\"?>"},
      {"an element is no declaration", u"<root  encoding=\"x\">", u"<root  encoding=\"x\">"},
      {"an unquoted value is dropped", u"<?xml version=\"1.0\" encoding=x ?>",
       u"<?xml version=\"1.0\" encoding>"},
      {"'>' inside the value ends the declaration", u"<?xml version=\"1.0\" encoding=\"a>b\"?>",
       u"<?xml version=\"1.0\" encoding>b\"?>"},
      {"without an encoding only white space changes",
       u"<?xml  version=\"1.0\"   standalone='yes'?>", u"<?xml version=\"1.0\" standalone='yes'?>"},
      {"the other quote inside a value", u"<?xml version=\"1'0\" encoding='x\"y'?>",
       u"<?xml version=\"1'0\" encoding='utf-8'?>"},
      {"a second declaration stays as it is",
       u"<?xml version=\"1.0\" encoding=\"a\"?><?xml  version=\"1.0\" encoding=\"b\"?>",
       u"<?xml version=\"1.0\" encoding=\"utf-8\"?><?xml  version=\"1.0\" encoding=\"b\"?>"},
      {"text after the declaration passes", u"<?xml encoding=\"a\"?>\n<a  b=\"c\"/>",
       u"<?xml encoding=\"utf-8\"?>\n<a  b=\"c\"/>"},
      {"the rest of a rewritten declaration is still normalised",
       u"<?xml encoding=\"a\"   standalone=\"yes\"?>  <a/>",
       u"<?xml encoding=\"utf-8\" standalone=\"yes\"?>  <a/>"},
      // The closing tag of a file without a final newline: the '<' waits
      // for more units, and at the end it is written as it is.
      {"a closing tag at the very end", u"<a>text</a>", u"<a>text</a>"},
      {"a '<' at the very end", u"x<", u"x<"},
      {"'<?xml' at the very end", u"x<?xml", u"x<?xml"},
      {"'<?xml ' at the very end", u"<?xml ", u"<?xml "},
      {"no markup", u"plain text, no markup at all", u"plain text, no markup at all"},
      {"empty", u"", u""},
  };
  for (const XmlCase& c : cases) {
    TransformChain chain(new CXmlFilter(u"utf-8"));
    EXPECT_EQ(Show(chain.RunEverySplit(c.input)), Show(c.output)) << c.what;
    EXPECT_EQ(Show(XmlReference(c.input, u"utf-8")), Show(c.output)) << c.what;
  }
}

TEST(XmlFilterTest, DestinationNameAsGiven) {
  TransformChain chain(new CXmlFilter(u"Latin1"));
  EXPECT_EQ(Show(chain.Run(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>")),
            Show(u"<?xml version=\"1.0\" encoding=\"Latin1\"?>"));
  const std::u16string longest(31, u'n');
  TransformChain longChain(new CXmlFilter(longest.c_str()));
  EXPECT_EQ(Show(longChain.Run(u"<?xml encoding=''?>")),
            Show(u"<?xml encoding='" + longest + u"'?>"));
}

// Found by fuzz_xml: once switched off, the filter passes later chunks byte
// for byte, so an odd last byte must pass as well when the rewritten
// declaration and that byte come in one chunk.
TEST(XmlFilterTest, OddLastByteAfterTheRewrittenDeclarationPassesWhicheverTheCuts) {
  TransformChain chain(new CXmlFilter(u"utf-8"));
  const std::string input = test::Utf16(u"<?xml encoding=\"a\"?>t</a>") + "z";
  const std::string whole = chain.RunBytes(input);
  EXPECT_EQ(whole, test::Utf16(u"<?xml encoding=\"utf-8\"?>t</a>") + "z");
  for (std::size_t at = 1; at < input.size(); ++at) {
    EXPECT_EQ(chain.RunBytes(input, {at}), whole) << "cut at byte " << at;
  }
  // Without a rewrite the odd byte waits for its partner and is dropped.
  EXPECT_EQ(chain.RunBytes(test::Utf16(u"<a>") + "z"), test::Utf16(u"<a>"));
}

TEST(XmlFilterTest, LongNamesAreCutAndThenNeverMatch) {
  TransformChain chain(new CXmlFilter(u"utf-8"));
  const std::u16string text =
      u"<?xml " + std::u16string(120, u'a') + u"encoding=\"x\" version=\"1.0\"?>";
  EXPECT_EQ(Show(chain.Run(text)), Show(text));
  // 91 units before "encoding" make 99 with it: still compared, still unequal.
  const std::u16string name99 = u"<?xml " + std::u16string(91, u'b') + u"encoding=\"x\"?>";
  EXPECT_EQ(Show(chain.Run(name99)), Show(name99));
}

TEST(XmlFilterTest, SwitchesItselfOffAfterTheReplacementAndOnAtReset) {
  TransformChain chain(new CXmlFilter(u"utf-8"));
  CBuffer input;
  const std::string first = test::Utf16(u"<?xml encoding=\"a\"?>");
  EXPECT_TRUE(input.Append(first.data(), static_cast<std::uint32_t>(first.size())));
  EXPECT_TRUE(chain.chain().Process(input, 0));
  EXPECT_FALSE(chain.filter().IsEnabled());
  // Later chunks of the same input pass untouched.
  const std::string second = test::Utf16(u"<?xml  encoding=\"b\"?>");
  EXPECT_TRUE(input.Append(second.data(), static_cast<std::uint32_t>(second.size())));
  EXPECT_TRUE(chain.chain().Process(input, first.size()));
  EXPECT_EQ(Show(test::FromUtf16(chain.sink().received)),
            Show(u"<?xml encoding=\"utf-8\"?><?xml  encoding=\"b\"?>"));
  EXPECT_TRUE(chain.chain().Flush());
  chain.chain().Reset();
  EXPECT_TRUE(chain.filter().IsEnabled());
  EXPECT_EQ(Show(chain.Run(u"<?xml encoding=\"c\"?>")), Show(u"<?xml encoding=\"utf-8\"?>"));
}

TEST(XmlFilterTest, WithoutReplacementItStaysOn) {
  TransformChain chain(new CXmlFilter(u"utf-8"));
  CBuffer input;
  const std::string bytes = test::Utf16(u"<?xml version=\"1.0\"?><a/>");
  EXPECT_TRUE(input.Append(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  EXPECT_TRUE(chain.chain().Process(input, 0));
  EXPECT_TRUE(chain.filter().IsEnabled());
  chain.chain().Reset();
}

TEST(XmlFilterTest, AnOpenDeclarationEndsWithItsInput) {
  // Each input is converted as if it were the only one: a declaration cut
  // off by the end of one input does not reach into the next.
  TransformChain chain(new CXmlFilter(u"utf-8"));
  const struct {
    std::u16string first, second;
  } cases[] = {
      {u"<?xml version=\"1.0\"", u"   encoding=\"x\"?>  a"},
      {u"<?xml version=\"1.0\" encoding=\"", u"x\"?>\r\n<a>"},
      {u"<?xml   ", u"<?xml version=\"1.0\"  encoding='x'?>"},
      {u"<?xml version=\"1.0\" encoding=", u"'x'  ?>"},
  };
  for (const auto& c : cases) {
    const std::u16string alone = chain.Run(c.second);
    chain.Run(c.first);
    EXPECT_EQ(Show(chain.Run(c.second)), Show(alone)) << Show(c.first);
  }
  EXPECT_EQ(Show(chain.Run(u"   encoding=\"x\"?>  a")), Show(u"   encoding=\"x\"?>  a"));
  EXPECT_EQ(Show(chain.Run(u"<?xml version=\"1.0\"  encoding='x'?>")),
            Show(u"<?xml version=\"1.0\" encoding='utf-8'?>"));
}

TEST(XmlFilterTest, EachFilterHasItsOwnState) {
  TransformChain one(new CXmlFilter(u"utf-8"));
  TransformChain two(new CXmlFilter(u"utf-16"));
  CBuffer input;
  const std::string open = test::Utf16(u"<?xml version=\"1.0\"");
  EXPECT_TRUE(input.Append(open.data(), static_cast<std::uint32_t>(open.size())));
  EXPECT_TRUE(one.chain().Process(input, 0));  // `one` stays inside a declaration
  EXPECT_EQ(Show(two.Run(u" encoding='x'?>")), Show(u" encoding='x'?>"));
  const std::string rest = test::Utf16(u"  encoding='x'?>");
  EXPECT_TRUE(input.Append(rest.data(), static_cast<std::uint32_t>(rest.size())));
  EXPECT_TRUE(one.chain().Process(input, open.size()));
  EXPECT_TRUE(one.chain().Flush());
  EXPECT_EQ(Show(test::FromUtf16(one.sink().received)),
            Show(u"<?xml version=\"1.0\" encoding='utf-8'?>"));
  one.chain().Reset();
}

TEST(XmlFilterTest, DeclarationStartCutAtEveryPlace) {
  // "<?xml" and the white space behind it may arrive in two chunks at any
  // point; the declaration is recognised all the same.
  TransformChain chain(new CXmlFilter(u"utf-8"));
  const std::u16string text = u"ab<?xml version=\"1.0\" encoding=\"x\"?>";
  for (std::size_t unit = 1; unit < text.size(); ++unit) {
    EXPECT_EQ(Show(chain.Run(text, {2 * unit})),
              Show(u"ab<?xml version=\"1.0\" encoding=\"utf-8\"?>"))
        << "cut before unit " << unit;
  }
}

TEST(XmlFilterTest, ReplacementAcrossTheForwardingSize) {
  // The declaration lies so that the replacement crosses the commit size of
  // the output; it must come out whole and in order.
  for (std::size_t before : {CBuffer::kCommitSize / 2 - 40, CBuffer::kCommitSize / 2 - 26,
                             CBuffer::kCommitSize / 2 - 1, CBuffer::kCommitSize / 2}) {
    TransformChain chain(new CXmlFilter(u"windows-1252"));
    const std::u16string text =
        std::u16string(before, u'x') + u"<?xml version=\"1.0\" encoding=\"a\"?>" + u"tail";
    const std::u16string expected =
        std::u16string(before, u'x') + u"<?xml version=\"1.0\" encoding=\"windows-1252\"?>tail";
    ASSERT_TRUE(chain.Run(text) == expected) << before;
    for (std::uint32_t piece : chain.sink().calls) EXPECT_LE(piece, CBuffer::kCommitSize);
  }
}

TEST(XmlFilterTest, RandomTextAtRandomCutsMatchesTheRule) {
  std::mt19937 rng(4201);
  const std::vector<std::u16string> pieces = {
      u"<?xml ", u"<?XML\t", u"<?xml-", u"encoding", u"ENCODING", u"version", u"=",
      u"\"",     u"'",       u" ",      u"  ",       u"\r\n",     u"\t",      u">",
      u"<",      u"?>",      u"<a>",    u"</a>",     u"x",        u"1.0",     u"\u00e9"};
  for (int round = 0; round < 1500; ++round) {
    std::u16string text;
    const std::size_t count = rng() % 40;
    for (std::size_t k = 0; k < count; ++k) text += pieces[rng() % pieces.size()];
    const std::string bytes = test::Utf16(text);
    TransformChain chain(new CXmlFilter(u"utf-8"));
    const std::u16string expected = XmlReference(text, u"utf-8");
    ASSERT_EQ(Show(chain.Run(text)), Show(expected));
    ASSERT_EQ(Show(test::FromUtf16(chain.RunBytes(bytes, test::RandomSplits(rng, bytes.size())))),
              Show(expected));
  }
}

TEST(XmlFilterTest, ShiftedAndRepeatedTextMatchesTheRule) {
  const std::u16string sample = u"<a  b='c'>\r\n<?xml  version=\"1.0\"\tencoding='x'?>\n";
  TransformChain chain(new CXmlFilter(u"utf-8"));
  for (std::size_t shift = 0; shift < 32; ++shift) {
    const std::u16string text = std::u16string(shift, u'x') + sample;
    ASSERT_EQ(Show(chain.Run(text, {2 * shift + 7})), Show(XmlReference(text, u"utf-8")));
  }
  for (std::size_t repeat : {0, 1, 2, 10, 123, 4567, 40000}) {
    std::u16string text;
    for (std::size_t k = 0; k < repeat; ++k) text += sample;
    const std::string bytes = test::Utf16(text);
    std::vector<std::size_t> splits;
    for (std::size_t at = CBuffer::kCommitSize; at < bytes.size(); at += CBuffer::kCommitSize) {
      splits.push_back(at);
    }
    ASSERT_TRUE(chain.Run(text, splits) == XmlReference(text, u"utf-8")) << repeat;
  }
}

TEST(XmlFilterTest, NameAndType) {
  CXmlFilter filter(u"utf-8");
  EXPECT_EQ(std::u16string(filter.GetName()), u"XML Processing Instruction Modification Filter");
  EXPECT_EQ(filter.GetType(), 41u);
  EXPECT_EQ(filter.category(), 16u);
}

}  // namespace
}  // namespace ordana
