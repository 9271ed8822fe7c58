#include "detection/AutoDetectionInputFilter.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "codecs/SingleByteFilters.h"

namespace ordana {
namespace {

// Builds statistics files byte by byte.
struct StatFile {
  std::string bytes;
  explicit StatFile(const char* label = "TST", std::uint32_t charset = 18) {
    bytes = "STAT";
    char l[4] = {};
    std::memcpy(l, label, std::min<std::size_t>(std::strlen(label), 4));
    bytes.append(l, 4);
    U32(charset);
    U32(0);
  }
  void U32(std::uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes += static_cast<char>((v >> (8 * k)) & 0xFF);
  }
  void F64(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int k = 0; k < 8; ++k) bytes += static_cast<char>((bits >> (8 * k)) & 0xFF);
  }
  StatFile& Block(std::initializer_list<std::pair<std::uint32_t, double>> entries) {
    bytes += "STBL";
    U32(0);
    U32(static_cast<std::uint32_t>(entries.size()));
    for (const auto& e : entries) {
      U32(e.first);
      F64(e.second);
    }
    return *this;
  }
};

class StatisticsTest : public ::testing::Test {
 protected:
  std::u16string Write(const std::string& name, const std::string& bytes) {
    test::WriteWholeFile(dir_.File(name), bytes);
    return dir_.File16(name);
  }
  std::u16string Dir() const { return platform::FromNative(dir_.path().c_str()); }

  test::TempDir dir_;
  test::LogCapture log_{2};
};

TEST_F(StatisticsTest, DiscoveryCountsOnlyStatFiles) {
  Write("a.dat", StatFile().bytes);
  Write("b.DAT", StatFile().bytes);
  Write("c.dat", "NOPE and more");
  Write("d.txt", StatFile().bytes);
  Write("e.dat", StatFile("BAD", 100).bytes);  // not a single-byte set
  platform::CreateDirectory(dir_.File16("f.dat").c_str());
  CAutoDetectionInputFilter filter(Dir(), CodecOptions{});
  EXPECT_EQ(filter.StatisticsFileCount(), 2u);
  EXPECT_NE(log_.narrow().find("Found 2 stat files\r\n"), std::string::npos);
}

TEST_F(StatisticsTest, ScoringFollowsThePositionsAndWeights) {
  // Sample "ABCDE": only position 0 counts, with A, AB and ABC.
  StatFile file;
  file.Block({{'A', 1.0}, {'B', 100.0}})
      .Block({{'A' | 'B' << 8, 2.0}, {'B' | 'C' << 8, 100.0}})
      .Block({{'A' | 'B' << 8 | 'C' << 16, 3.0}});
  CAutoDetectionInputFilter filter(Dir(), CodecOptions{});
  ASSERT_TRUE(filter.LoadStatisticsFile(Write("s.dat", file.bytes).c_str()));
  EXPECT_EQ(std::string(filter.CurrentLabel(), 3), "TST");
  EXPECT_EQ(filter.CurrentCharset(), 18u);
  const std::uint8_t five[] = {'A', 'B', 'C', 'D', 'E'};
  EXPECT_EQ(filter.ScoreSample(five, 5), 2.0 * 50.0 + 1.0 + 3.0 * 500.0);
  EXPECT_EQ(filter.ScoreSample(five, 4), 0.0);
  const std::uint8_t six[] = {'A', 'B', 'C', 'D', 'E', 'F'};
  EXPECT_EQ(filter.ScoreSample(six, 6), 2.0 * 50.0 + 100.0 * 50.0 + 1.0 + 100.0 + 3.0 * 500.0);
}

TEST_F(StatisticsTest, LoaderEdgeCases) {
  CAutoDetectionInputFilter filter(Dir(), CodecOptions{});
  const std::uint8_t sample[] = {'A', 'A', 'A', 'A', 'A', 'A'};
  struct Case {
    const char* what;
    std::string bytes;
    bool loads;
    double score;
  };
  StatFile twice;
  twice.Block({{'A', 1.0}, {'A', 7.0}});
  StatFile one;
  one.Block({{'A', 2.0}});
  StatFile cut;
  cut.Block({{'A', 2.0}, {'B', 3.0}});
  cut.bytes.resize(cut.bytes.size() - 5);  // the second entry runs past the end
  StatFile four;
  four.Block({{'A', 1.0}}).Block({}).Block({}).Block({{'A', 1000.0}});
  StatFile trailing;
  trailing.Block({{'A', 1.0}});
  trailing.bytes += "junk after the blocks";
  const Case cases[] = {
      {"header alone", StatFile().bytes, true, 0.0},
      {"short header", std::string("STAT"), true, 0.0},
      {"not STAT", std::string("STAX") + std::string(12, '\0'), false, 0.0},
      {"later weight wins", twice.bytes, true, 7.0 * 2},
      {"one block is single bytes", one.bytes, true, 2.0 * 2},
      {"entries past the end are left out", cut.bytes, true, 2.0 * 2},
      {"a fourth block is ignored", four.bytes, true, 1.0 * 2},
      {"trailing bytes end the parse", trailing.bytes, true, 1.0 * 2},
      {"not a single-byte set", StatFile("X", 101).bytes, false, 0.0},
  };
  for (const Case& c : cases) {
    const bool loaded = filter.LoadStatisticsFile(Write("x.dat", c.bytes).c_str());
    EXPECT_EQ(loaded, c.loads) << c.what;
    EXPECT_EQ(filter.ScoreSample(sample, 6), c.score) << c.what;
  }
  EXPECT_FALSE(filter.LoadStatisticsFile(dir_.File16("missing.dat").c_str()));
}

TEST_F(StatisticsTest, HighestScoreWinsAndFollowsThePolicy) {
  StatFile latin("LAT", 0);
  latin.Block({{0xE9, 1.0}});
  StatFile greek("GRE", 6);
  greek.Block({{0xE9, 3.0}});
  Write("latin.dat", latin.bytes);
  Write("greek.dat", greek.bytes);
  CFilterChain chain;
  chain.Append(new CAutoDetectionInputFilter(Dir(), CodecOptions{}));
  chain.Append(new CNulFilter());
  auto* sink = new test::RecordingFilter();
  chain.Append(sink);
  test::ConvertThrough(chain, *sink, "\xE9\xE9\xE9\xE9\xE9");
  EXPECT_NE(log_.narrow().find("Detected SCS ISO-8859-7 (GRE)\r\n"), std::string::npos) << log_.narrow();
  auto* decoder = dynamic_cast<CSingleByteToUtf16Filter*>(chain.head()->GetNext());
  ASSERT_NE(decoder, nullptr);
  EXPECT_EQ(decoder->GetCharset(), 6u);
}

TEST(DetectionHandOverTest, DecoderTakesThePlaceOfTheSuccessorEveryTime) {
  test::TempDir empty;
  test::LogCapture log(2);
  CFilterChain chain;
  auto* detection =
      new CAutoDetectionInputFilter(platform::FromNative(empty.path().c_str()), CodecOptions{});
  chain.Append(detection);
  chain.Append(new CNulFilter());
  auto* sink = new test::RecordingFilter();
  chain.Append(sink);
  EXPECT_EQ(test::ConvertThrough(chain, *sink, std::string("\xFF\xFE" "A\0", 4)),
            std::string("A\0", 2));
  EXPECT_EQ(chain.count(), 3u);
  EXPECT_TRUE(detection->IsEnabled());  // re-armed by Reset
  EXPECT_EQ(std::u16string(static_cast<CFilter*>(detection->GetNext())->GetName()),
            u"UTF-16 Input Filter");
  EXPECT_EQ(test::ConvertThrough(chain, *sink, "\xC3\xA4\xC3\xB6"), std::string("\xE4\0\xF6\0", 4));
  EXPECT_NE(log.narrow().find("Removed Last Filter \"NUL Filter\"\r\n"), std::string::npos);
  EXPECT_NE(log.narrow().find("Removed Last Filter \"UTF-16 Input Filter\"\r\n"), std::string::npos);
  EXPECT_EQ(chain.count(), 3u);
}

TEST(DetectionHandOverTest, DecisionDoesNotDependOnHowTheInputArrives) {
  test::TempDir empty;
  CFilterChain chain;
  chain.Append(new CAutoDetectionInputFilter(platform::FromNative(empty.path().c_str()), CodecOptions{}));
  chain.Append(new CNulFilter());
  auto* sink = new test::RecordingFilter();
  chain.Append(sink);
  // "ab" alone would end in the fallback; the whole input is UTF-8.
  const std::string input = "ab\xC3\xA4\xC3\xB6";
  const std::string whole = test::ConvertThrough(chain, *sink, input);
  EXPECT_EQ(whole, std::string("a\0b\0\xE4\0\xF6\0", 8));
  test::ConvertAllSplits(chain, *sink, input);
}

}  // namespace
}  // namespace ordana
