#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "codecs/SingleByteFilters.h"
#include "detection/AutoDetectionInputFilter.h"
#include "detection/DetectionEvidence.h"
#include "detection/StatisticsFiles.h"

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

// Whether scoring all files of `set` at once gives each file's own score,
// bit for bit.
::testing::AssertionResult ScoresAlikeAtOnce(const CStatisticsSet& set, const std::string& sample) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(sample.data());
  const auto n = static_cast<std::uint32_t>(sample.size());
  std::vector<double> scores;
  set.ScoreAll(b, n, &scores);
  if (scores.size() != set.Count()) {
    return ::testing::AssertionFailure() << scores.size() << " scores for " << set.Count();
  }
  for (std::size_t m = 0; m < set.Count(); ++m) {
    const double direct = set.At(m).Score(b, n);
    if (std::memcmp(&direct, &scores[m], sizeof direct) != 0) {
      return ::testing::AssertionFailure() << "file " << m << " scores " << direct << " alone and "
                                           << scores[m] << " at once, sample of " << n << " bytes";
    }
  }
  return ::testing::AssertionSuccess();
}

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
  EXPECT_TRUE(platform::CreateDirectory(dir_.File16("f.dat").c_str()));
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

// A file's tables read as listed, whatever their order: the keys a sample
// can form, the later of two entries for a key, in ascending order; and the
// scoring of all files at once agrees with each file's own.
TEST_F(StatisticsTest, TablesReadAsListedInAnyOrder) {
  using Entries = std::vector<std::pair<std::uint32_t, double>>;
  struct Case {
    const char* what;
    Entries pairs;
    Entries triples;
  };
  const std::uint32_t t1 = 0xE9 | 'a' << 8 | 'b' << 16;
  const std::uint32_t t2 = 'a' | 0xE9 << 8 | 'b' << 16;
  const Case cases[] = {
      {"ascending", {{0x61E9, 1.5}, {0xE961, -2.0}}, {{t1, 0.25}, {t2, 4.0}}},
      {"keys beyond the table at the end",
       {{0x61E9, 1.5}, {0x10000, 9.0}},
       {{t2, 4.0}, {1u << 24, 9.0}}},
      {"keys beyond the table first",
       {{0x1E961, 9.0}, {0x61E9, 1.5}},
       {{0x1000000 | t1, 9.0}, {t1, 2.0}}},
      {"descending", {{0xE961, -2.0}, {0x61E9, 1.5}}, {{t2, 4.0}, {t1, 0.25}}},
      {"a key twice", {{0x61E9, 1.5}, {0xE961, -2.0}, {0x61E9, 3.0}}, {{t1, 0.25}, {t1, -0.75}}},
      {"a key twice in a row", {{0x61E9, 1.5}, {0x61E9, 3.0}}, {{t1, 0.25}, {t1, 0.5}, {t2, 1.0}}},
      {"zero weights kept", {{0x61E9, 0.0}, {0xE961, -0.0}}, {{t1, 0.0}, {t2, 2.0}}},
  };
  std::mt19937 random(7);
  const std::string alphabet = "ab\xE9\xE9";
  for (const Case& c : cases) {
    StatFile file("TST", 18);
    const auto block = [&file](const Entries& entries) {
      file.bytes += "STBL";
      file.U32(0);
      file.U32(static_cast<std::uint32_t>(entries.size()));
      for (const auto& e : entries) {
        file.U32(e.first);
        file.F64(e.second);
      }
    };
    block({{0xE9, 0.5}, {0x1E9, 8.0}});
    block(c.pairs);
    block(c.triples);
    CStatisticsModel model;
    ASSERT_EQ(LoadStatisticsModel(Write("a.dat", file.bytes).c_str(), &model),
              StatisticsLoad::kLoaded)
        << c.what;
    for (const auto& [entries, limit, table] :
         {std::make_tuple(&c.pairs, 0x10000u, 1), std::make_tuple(&c.triples, 1u << 24, 2)}) {
      std::map<std::uint32_t, double> expected;
      for (const auto& e : *entries) {
        if (e.first < limit) expected[e.first] = e.second;
      }
      Entries read;
      const auto add = [&read](std::uint32_t key, double weight) {
        read.emplace_back(key, weight);
      };
      if (table == 1) model.ForEachPair(add);
      if (table == 2) model.ForEachTriple(add);
      EXPECT_EQ(read, Entries(expected.begin(), expected.end())) << c.what << ", table " << table;
      for (const auto& [key, weight] : expected) {
        EXPECT_EQ(table == 1 ? model.PairWeight(key) : model.TripleWeight(key), weight) << c.what;
      }
    }
    EXPECT_EQ(model.SingleWeight(0xE9), 0.5) << c.what;
    EXPECT_EQ(model.PairWeight(0x6161), 0.0) << c.what;
    EXPECT_EQ(model.TripleWeight(0x626262), 0.0) << c.what;

    // A second file that lists some of the same keys, so that the layout of
    // all files holds keys that several files weigh.
    StatFile other("OTH", 6);
    other.Block({{0xE9, 0.125}})
        .Block({{0x61E9, 0.375}, {0xE9E9, 1.0}})
        .Block({{t1, -1.5}, {0xE9 | 0xE9 << 8 | 'a' << 16, 0.5}});
    Write("b.dat", other.bytes);
    CStatisticsSet set;
    set.Load(Dir());
    ASSERT_EQ(set.Count(), 2u);
    for (int k = 0; k < 20; ++k) {
      std::string sample(5 + random() % 200, 'a');
      for (char& ch : sample) ch = alphabet[random() % alphabet.size()];
      EXPECT_TRUE(ScoresAlikeAtOnce(set, sample)) << c.what;
    }
  }
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
  EXPECT_NE(log_.narrow().find("Detected SCS ISO-8859-7 (GRE)\r\n"), std::string::npos)
      << log_.narrow();
  auto* decoder = dynamic_cast<CSingleByteToUtf16Filter*>(chain.head()->GetNext());
  ASSERT_NE(decoder, nullptr);
  EXPECT_EQ(decoder->GetCharset(), 6u);
}

// The detection-only runs ask Examine; a conversion hands the same decision
// to a decoder. Both record the set, how it was decided and the scores.
TEST_F(StatisticsTest, ExamineDecidesAsTheConversionAndRecordsTheScores) {
  StatFile latin("LAT", 0);
  latin.Block({{0xE9, 1.0}});
  StatFile greek("GRE", 6);
  greek.Block({{0xE9, 3.0}});
  StatFile cyrillic("CYR", 17);
  cyrillic.Block({{0xE9, 2.0}});
  Write("latin.dat", latin.bytes);
  Write("greek.dat", greek.bytes);
  Write("cyrillic.dat", cyrillic.bytes);
  CAutoDetectionInputFilter filter(Dir(), CodecOptions{});
  struct Case {
    const char* what;
    std::string bytes;
    CharsetId charset;
    DetectionBasis basis;
    std::vector<CharsetId> candidates;  // best first
  };
  const std::string highBytes(5, '\xE9');
  const Case cases[] = {
      {"statistics", highBytes, 6, DetectionBasis::kStatistics, {6, 17, 0}},
      {"UTF-16 mark",
       std::string("\xFF\xFE"
                   "A\0",
                   4),
       kCharsetUtf16,
       DetectionBasis::kByteOrderMark,
       {}},
      {"UTF-16BE mark",
       std::string("\xFE\xFF\0"
                   "A",
                   4),
       kCharsetUtf16Be,
       DetectionBasis::kByteOrderMark,
       {}},
      {"UTF-32 mark",
       std::string("\xFF\xFE\0\0"
                   "A\0\0\0",
                   8),
       kCharsetUtf32,
       DetectionBasis::kByteOrderMark,
       {}},
      {"UTF-8 mark",
       "\xEF\xBB\xBF"
       "abc",
       kCharsetUtf8,
       DetectionBasis::kByteOrderMark,
       {}},
      {"UTF-16 zeros", std::string("A\0B\0", 4), kCharsetUtf16, DetectionBasis::kZeroPattern, {}},
      {"UTF-8 sequences", "\xC3\xA4\xC3\xB6 text", kCharsetUtf8, DetectionBasis::kUtf8, {}},
      {"ASCII", "plain text", 14, DetectionBasis::kFallback, {}},
      {"empty", "", 14, DetectionBasis::kFallback, {}},
  };
  for (const Case& c : cases) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    const DetectionResult& result =
        filter.Examine(bytes, static_cast<std::uint32_t>(c.bytes.size()));
    EXPECT_EQ(result.charset, c.charset) << c.what;
    EXPECT_EQ(result.basis, c.basis) << c.what;
    std::vector<CharsetId> order;
    for (const DetectionCandidate& candidate : result.candidates)
      order.push_back(candidate.charset);
    EXPECT_EQ(order, c.candidates) << c.what;
    EXPECT_EQ(&filter.LastDetection(), &result) << c.what;
  }
  // The scores are the files' scores of the sample: of five bytes only the
  // first position is read.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(highBytes.data());
  const DetectionResult& result = filter.Examine(bytes, 5);
  ASSERT_EQ(result.candidates.size(), 3u);
  EXPECT_EQ(result.candidates[0].score, 3.0);
  EXPECT_EQ(std::string(result.candidates[0].label, 3), "GRE");
  EXPECT_EQ(result.candidates[1].score, 2.0);
  EXPECT_EQ(result.candidates[2].score, 1.0);

  // A conversion of the same bytes takes the set Examine named.
  CFilterChain chain;
  auto* detection = new CAutoDetectionInputFilter(Dir(), CodecOptions{});
  chain.Append(detection);
  chain.Append(new CNulFilter());
  auto* sink = new test::RecordingFilter();
  chain.Append(sink);
  test::ConvertThrough(chain, *sink, highBytes);
  EXPECT_EQ(detection->LastDetection().charset, 6u);
  EXPECT_EQ(detection->LastDetection().basis, DetectionBasis::kStatistics);
}

// The sequence count decides for UTF-8 only when well-formed sequences
// outnumber the broken ones (at least two of them) over the whole sample: a
// tie is no evidence, however early the good ones came.
TEST_F(StatisticsTest, Utf8SequencesMustOutnumberTheBrokenOnes) {
  CAutoDetectionInputFilter filter(Dir(), CodecOptions{});
  struct Case {
    const char* what;
    std::string bytes;
    CharsetId charset;
    DetectionBasis basis;
  };
  const Case cases[] = {
      {"two good, two broken", "ab \xC3\xA4 cd \xC3\xB6 ef \xC3( gh \xC3) ij", 14,
       DetectionBasis::kFallback},
      {"good first, then as many broken", "\xC3\xA4\xC3\xB6 abcdefgh \xE2( \xC3) ijkl", 14,
       DetectionBasis::kFallback},
      {"three good, two broken", "ab \xC3\xA4 cd \xC3\xB6 ef \xC3( gh \xC3) ij \xC3\xBC",
       kCharsetUtf8, DetectionBasis::kUtf8},
      {"one good, none broken", "abcdefgh \xC3\xA4 ijklmnop", kCharsetUtf8,
       DetectionBasis::kUtf8},  // by the well-formedness test
      {"one good, one broken", "abcdefgh \xC3\xA4 ijkl \xC3) mnop", 14, DetectionBasis::kFallback},
  };
  for (const Case& c : cases) {
    const DetectionResult& result =
        filter.Examine(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                       static_cast<std::uint32_t>(c.bytes.size()));
    EXPECT_EQ(result.charset, c.charset) << c.what;
    EXPECT_EQ(result.basis, c.basis) << c.what;
  }
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
  EXPECT_EQ(test::ConvertThrough(chain, *sink,
                                 std::string("\xFF\xFE"
                                             "A\0",
                                             4)),
            std::string("A\0", 2));
  EXPECT_EQ(chain.count(), 3u);
  EXPECT_TRUE(detection->IsEnabled());  // re-armed by Reset
  EXPECT_EQ(std::u16string(static_cast<CFilter*>(detection->GetNext())->GetName()),
            u"UTF-16 Input Filter");
  EXPECT_EQ(test::ConvertThrough(chain, *sink, "\xC3\xA4\xC3\xB6"), std::string("\xE4\0\xF6\0", 4));
  EXPECT_NE(log.narrow().find("Removed Last Filter \"NUL Filter\"\r\n"), std::string::npos);
  EXPECT_NE(log.narrow().find("Removed Last Filter \"UTF-16 Input Filter\"\r\n"),
            std::string::npos);
  EXPECT_EQ(chain.count(), 3u);
}

// The decision rests on the first 2 MiB exactly, whether they come as one
// read of a file or as the small pieces of a pipe: UTF-8 evidence right
// behind them does not count, evidence in their last bytes does.
TEST(DetectionHandOverTest, TheSampleIsTheFirstChunkExactly) {
  test::TempDir empty;
  const std::size_t chunk = CBuffer::kCommitSize;
  struct Case {
    const char* what;
    std::size_t utf8At;  // where the UTF-8 text starts
    bool utf8;           // taken for UTF-8
  };
  const Case cases[] = {
      {"UTF-8 right behind the sample", chunk, false},
      {"UTF-8 in the sample's last bytes", chunk - 8, true},
  };
  for (const Case& c : cases) {
    // One broken sequence early (E9 alone, as Latin-1 writes it), then ASCII.
    std::string input = "caf\xE9 au lait\n";
    while (input.size() < c.utf8At) input += "the quick brown fox jumps over the lazy dog\n";
    input.resize(c.utf8At);
    for (int k = 0; k < 64; ++k) input += "\xC3\xA9";
    const std::size_t utf8Units = c.utf8At;  // every byte before is one unit either way
    for (const std::size_t piece : {chunk, std::size_t{65536}, std::size_t{4093}}) {
      CFilterChain chain;
      chain.Append(new CAutoDetectionInputFilter(platform::FromNative(empty.path().c_str()),
                                                 CodecOptions{}));
      chain.Append(new CNulFilter());
      auto* sink = new test::RecordingFilter();
      chain.Append(sink);
      std::vector<std::size_t> splits;
      for (std::size_t at = piece; at < input.size(); at += piece) splits.push_back(at);
      const std::string out = test::ConvertThrough(chain, *sink, input, splits);
      const std::string what = std::string(c.what) + ", pieces of " + std::to_string(piece);
      EXPECT_EQ(out.size(), 2 * input.size() - (c.utf8 ? 128 : 0)) << what;
      if (out.size() < 2 * utf8Units + 4) continue;
      // UTF-8 reads C3 A9 as U+00E9; the fallback (ISO-8859-15) as U+00C3 U+00A9.
      EXPECT_EQ(out.substr(2 * utf8Units, 4),
                c.utf8 ? std::string("\xE9\0\xE9\0", 4) : std::string("\xC3\0\xA9\0", 4))
          << what;
    }
  }
}

// The detection as it was before it took whole chunks where they lie: it
// gathers every input in its pending buffer first.
class GatheringDetection : public CAutoDetectionInputFilter {
 public:
  using CAutoDetectionInputFilter::CAutoDetectionInputFilter;
  bool Process(CBuffer& input) override { return CFilter::Process(input); }
};

// A chunk that comes whole while nothing waits is decided where it lies
// instead of being copied into the pending buffer first; the text and every
// message, the trace included, are those of gathering it.
TEST(DetectionHandOverTest, AWholeChunkIsDecidedWhereItLies) {
  test::TempDir empty;
  const std::u16string dir = platform::FromNative(empty.path().c_str());
  const std::size_t chunk = CBuffer::kCommitSize;
  std::string latin = "caf\xE9 au lait\n";
  while (latin.size() < chunk + 1000) latin += "the quick brown fox jumps over the lazy dog\n";
  std::string utf8 = "\xC3\xA4\xC3\xB6 ";
  std::string behind = latin.substr(0, chunk);
  for (int k = 0; k < 64; ++k) behind += "\xC3\xA9";
  while (utf8.size() < chunk * 3 / 2)
    utf8 +=
        "gr\xC3\xBC\xC3\x9F"
        "e aus K\xC3\xB6ln\n";
  const struct {
    const char* what;
    std::string input;
    std::vector<std::size_t> splits;
  } cases[] = {
      {"exactly a chunk", latin.substr(0, chunk), {}},
      {"a chunk, then the rest", latin, {chunk}},
      {"more than a chunk at once", latin, {}},
      {"UTF-8, one and a half chunks at once", utf8, {}},
      {"a small piece first", latin, {100}},
      {"UTF-8 right behind the chunk, at once", behind, {}},
  };
  for (const auto& c : cases) {
    std::string outputs[2];
    std::string logs[2];
    for (int gathering = 0; gathering < 2; ++gathering) {
      test::LogCapture log(5);
      CFilterChain chain;
      chain.Append(gathering ? new GatheringDetection(dir, CodecOptions{})
                             : new CAutoDetectionInputFilter(dir, CodecOptions{}));
      chain.Append(new CNulFilter());
      auto* sink = new test::RecordingFilter();
      chain.Append(sink);
      outputs[gathering] = test::ConvertThrough(chain, *sink, c.input, c.splits);
      logs[gathering] = log.narrow();
    }
    // Latin-1 text: a UTF-16 unit per byte; UTF-8: fewer units than bytes.
    if (c.input == utf8) {
      EXPECT_LT(outputs[0].size(), 2 * c.input.size()) << c.what;
    } else {
      EXPECT_EQ(outputs[0].size(), 2 * c.input.size()) << c.what;
    }
    EXPECT_EQ(outputs[0], outputs[1]) << c.what;
    EXPECT_EQ(logs[0], logs[1]) << c.what;
  }
}

TEST(DetectionHandOverTest, DecisionDoesNotDependOnHowTheInputArrives) {
  test::TempDir empty;
  CFilterChain chain;
  chain.Append(
      new CAutoDetectionInputFilter(platform::FromNative(empty.path().c_str()), CodecOptions{}));
  chain.Append(new CNulFilter());
  auto* sink = new test::RecordingFilter();
  chain.Append(sink);
  // "ab" alone would end in the fallback; the whole input is UTF-8.
  const std::string input = "ab\xC3\xA4\xC3\xB6";
  const std::string whole = test::ConvertThrough(chain, *sink, input);
  EXPECT_EQ(whole, std::string("a\0b\0\xE4\0\xF6\0", 8));
  test::ConvertAllSplits(chain, *sink, input);
}

// ---- Files that must not be trusted -------------------------------------------

TEST_F(StatisticsTest, UnusableFilesAreSkippedWithAReason) {
  StatFile good("GOO", 18);
  good.Block({{0xE9, 1.0}});
  Write("a-good.dat", good.bytes);
  StatFile nan("NAN", 18);
  nan.Block({{0xE9, std::numeric_limits<double>::quiet_NaN()}});
  Write("b-nan.dat", nan.bytes);
  StatFile inf("INF", 18);
  inf.Block({{0xE9, 1.0}}).Block({{0xE9 | 'x' << 8, -std::numeric_limits<double>::infinity()}});
  Write("c-inf.dat", inf.bytes);
  StatFile huge("BIG", 18);
  huge.Block({}).Block({}).Block({{0xE9E9E9, 1e300}});
  Write("d-huge-weight.dat", huge.bytes);
  StatFile large("LRG", 18);
  large.Block({{0xE9, 2.0}});
  large.bytes.resize(kLargestStatisticsFile + 1, 'x');  // a real table is far smaller
  Write("e-large.dat", large.bytes);
  StatFile limit("LIM", 18);
  limit.Block({{0xE9, -kLargestStatisticsWeight}});
  limit.bytes.resize(kLargestStatisticsFile, 'x');  // exactly the limit, trailing bytes ignored
  Write("f-at-the-limits.dat", limit.bytes);
  ASSERT_EQ(::mkfifo(dir_.File("g-fifo.dat").c_str(), 0600), 0);
  CAutoDetectionInputFilter filter(Dir(), CodecOptions{});  // a FIFO must not make this wait
  EXPECT_EQ(filter.StatisticsFileCount(), 2u);
  const std::string log = log_.narrow();
  const std::string dir = dir_.path();
  for (const char* expected :
       {"Using the statistics files in %\r\n",
        "Statistics file %/b-nan.dat holds a weight that is not a number between -10000 and "
        "10000; skipped\r\n",
        "Statistics file %/c-inf.dat holds a weight that is not a number between -10000 and "
        "10000; skipped\r\n",
        "Statistics file %/d-huge-weight.dat holds a weight that is not a number between "
        "-10000 and 10000; skipped\r\n",
        "Statistics file %/e-large.dat is larger than 1048576 bytes; skipped\r\n",
        "Statistics file %/g-fifo.dat is not a regular file; skipped\r\n",
        "Found 2 stat files\r\n"}) {
    std::string line = expected;
    if (line.find('%') != std::string::npos) line.replace(line.find('%'), 1, dir);
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  EXPECT_EQ(log.find("a-good.dat"), std::string::npos) << log;
  EXPECT_EQ(log.find("f-at-the-limits.dat"), std::string::npos) << log;
}

TEST_F(StatisticsTest, LoaderResults) {
  CStatisticsModel model;
  StatFile nan;
  nan.Block({{'A', std::nan("")}});
  StatFile late;  // a bad weight anywhere spoils the file, even one replaced later
  late.Block({{'A', 1e9}, {'A', 1.0}});
  const struct {
    const char* what;
    std::string bytes;
    StatisticsLoad result;
  } cases[] = {
      {"header alone", StatFile().bytes, StatisticsLoad::kLoaded},
      {"not STAT", "STA", StatisticsLoad::kNotStatistics},
      {"empty", "", StatisticsLoad::kNotStatistics},
      {"NaN", nan.bytes, StatisticsLoad::kBadWeight},
      {"absurd then fine", late.bytes, StatisticsLoad::kBadWeight},
      {"UTF-8 named", StatFile("U8", 100).bytes, StatisticsLoad::kNotSingleByte},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadStatisticsModel(Write("x.dat", c.bytes).c_str(), &model), c.result) << c.what;
  }
  EXPECT_EQ(LoadStatisticsModel(dir_.File16("missing.dat").c_str(), &model),
            StatisticsLoad::kOpenFailed);
  EXPECT_TRUE(platform::CreateDirectory(dir_.File16("d.dat").c_str()));
  EXPECT_EQ(LoadStatisticsModel(dir_.File16("d.dat").c_str(), &model), StatisticsLoad::kNotRegular);
  ASSERT_EQ(::mkfifo(dir_.File("f.dat").c_str(), 0600), 0);
  EXPECT_EQ(LoadStatisticsModel(dir_.File16("f.dat").c_str(), &model), StatisticsLoad::kNotRegular);
}

// ---- No evidence ----------------------------------------------------------------

// Runs `input` through a detection that reads `directory`; returns the
// detected set and the text as UTF-16LE.
std::pair<CharsetId, std::string> DetectAndDecode(const std::u16string& directory,
                                                  const std::string& input) {
  CFilterChain chain;
  chain.Append(new CAutoDetectionInputFilter(directory, CodecOptions{}));
  chain.Append(new CNulFilter());
  auto* sink = new test::RecordingFilter();
  chain.Append(sink);
  std::string out = test::ConvertThrough(chain, *sink, input);
  auto* decoder = dynamic_cast<CSingleByteToUtf16Filter*>(chain.head()->GetNext());
  return {decoder ? decoder->GetCharset() : 0xFFFFFFFFu, out};
}

std::string Utf16(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

TEST_F(StatisticsTest, NoEvidenceTakesTheFallback) {
  // Two files that weigh the same bytes alike, and the first by name names
  // DOS-850, under which these texts would come out wrong.
  StatFile dos("DOS", 28);
  dos.Block({{0xE9, 1.0}, {0xDF, 1.0}});
  StatFile west("WES", 18);
  west.Block({{0xE9, 1.0}, {0xDF, 1.0}});
  Write("a-dos.dat", dos.bytes);
  Write("b-west.dat", west.bytes);
  const struct {
    const char* what;
    std::string input;
    std::u16string text;
  } cases[] = {
      {"high byte only in the last bytes", "Caf\xE9", u"Café"},
      {"high byte only in the last bytes, line end", "Caf\xE9\n", u"Café\n"},
      {"\xDF in the last four bytes",
       "Stra\xDF"
       "e",
       u"Straße"},
      {"equal scores",
       "\xE9t\xE9 \xE0 Paris, stra\xDF"
       "e",
       u"été à Paris, straße"},
      {"plain ASCII", "nothing but ASCII here", u"nothing but ASCII here"},
  };
  for (const auto& c : cases) {
    const auto [charset, out] = DetectAndDecode(Dir(), c.input);
    EXPECT_EQ(charset, 14u) << c.what;
    EXPECT_EQ(out, Utf16(c.text)) << c.what;
  }
  EXPECT_NE(log_.narrow().find("No byte of the text tells the single-byte sets apart\r\n"),
            std::string::npos);
  EXPECT_NE(log_.narrow().find("Detected character set (fallback) ISO-8859-15\r\n"),
            std::string::npos);
  EXPECT_EQ(log_.narrow().find("Detected SCS"), std::string::npos) << log_.narrow();
  // One byte that tells them apart decides.
  StatFile westMore("WES", 18);
  westMore.Block({{0xE9, 1.0}, {0xDF, 1.0}, {0xE0, 2.0}});
  Write("b-west.dat", westMore.bytes);
  const auto [charset, out] = DetectAndDecode(Dir(), "\xE9t\xE9 \xE0 Paris");
  EXPECT_EQ(charset, 18u);
  EXPECT_EQ(out, Utf16(u"été à Paris"));
}

TEST_F(StatisticsTest, OneFileDecidesWhenTheTextHasHighBytes) {
  StatFile greek("GRE", 6);
  greek.Block({{0xE1, 1.0}});
  Write("greek.dat", greek.bytes);
  EXPECT_EQ(DetectAndDecode(Dir(), "\xE1\xE2\xE3\xE4\xE5").first, 6u);
  EXPECT_EQ(DetectAndDecode(Dir(), "abcd\xE1").first, 14u);
}

// ---- The shipped files ------------------------------------------------------------

TEST(ShippedStatisticsTest, ShortLatinTextsDecodeAsWithoutTheFiles) {
  test::TempDir empty;
  const std::u16string shipped = platform::FromNative(ORDANA_STATS_DIR);
  const std::u16string none = platform::FromNative(empty.path().c_str());
  const char16_t* texts[] = {
      u"Café",   u"Straße", u"Grüße",        u"Ærø",       u"naïve",        u"señor",
      u"Zürich", u"garçon", u"Café au lait", u"São Paulo", u"Crème brûlée", u"Größe",
      u"façade", u"Malmö",  u"plain ASCII",  u"x",
  };
  for (const char16_t* text : texts) {
    std::string latin1;
    for (const char16_t* p = text; *p; ++p) latin1 += static_cast<char>(*p);
    const auto with = DetectAndDecode(shipped, latin1);
    const auto without = DetectAndDecode(none, latin1);
    EXPECT_EQ(with.second, Utf16(text))
        << platform::ToNative(text, std::char_traits<char16_t>::length(text));
    EXPECT_EQ(with.second, without.second);
  }
}

TEST(ShippedStatisticsTest, ScoringAllFilesAtOnceIsBitIdentical) {
  CStatisticsSet set;
  set.Load(platform::FromNative(ORDANA_STATS_DIR));
  ASSERT_GE(set.Count(), 20u);
  std::vector<std::string> samples = {
      "Gr\xFC\xDF"
      "e aus M\xFCnchen, sch\xF6ne Gr\xFC\xDF"
      "e und \x93"
      "Anf\xFChrung\x94 \x80 10",
      "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0! \xCA\xE0\xEA \xE4\xE5\xEB\xE0?",
      "plain ASCII only, nothing to see here",
  };
  std::mt19937 random(20261207);
  for (int k = 0; k < 40; ++k) {
    std::string sample(1 + random() % 3000, '\0');
    const int high = static_cast<int>(random() % 100);  // percent of high bytes
    for (char& c : sample) {
      c = static_cast<char>(static_cast<int>(random() % 100) < high ? 0x80 + random() % 128
                                                                    : 0x20 + random() % 95);
    }
    samples.push_back(sample);
  }
  for (const std::string& sample : samples) EXPECT_TRUE(ScoresAlikeAtOnce(set, sample));
}

// Scoring all files at once passes over the positions whose bytes are all
// ASCII when every weighed key holds a high byte, 64 positions at a time;
// a high byte just before or after a block's edge, or in the last bytes,
// must still count exactly as the one-file scoring counts it. A file that
// weighs ASCII keys turns the skipping off.
TEST_F(StatisticsTest, ScoringAllFilesSkipsOnlyWhatAddsNothing) {
  StatFile west("WES", 18);
  west.Block({{0xE9, 1.5}, {0x80, -2.25}})
      .Block({{0xE9 | ' ' << 8, 0.75}, {'a' | 0xE9 << 8, -1.125}, {0xE9 | 0xE9 << 8, 3.0}})
      .Block({{'a' | 'b' << 8 | 0xE9 << 16, 7.0}, {0xE9 | 'a' << 8 | 'b' << 16, -0.5}});
  StatFile other("OTH", 6);
  other.Block({{0xE9, 0.1}, {0xF0, 0.3}})
      .Block({{'b' | 0xE9 << 8, 0.2}, {0xF0 | 0xE9 << 8, 0.4}})
      .Block({{'b' | 'a' << 8 | 0xE9 << 16, 0.7}, {0x80 | 0xE9 << 8 | 'a' << 16, 0.9}});
  StatFile ascii("ASC", 14);
  ascii.Block({{'a', 0.01}})
      .Block({{'a' | 'b' << 8, 0.02}})
      .Block({{'b' | 'a' << 8 | 'b' << 16, 0.03}});
  Write("a-west.dat", west.bytes);
  Write("b-other.dat", other.bytes);
  struct Case {
    const char* what;
    std::size_t length;
    std::vector<std::size_t> high;  // where 0xE9 goes; the rest is "abab..."
  };
  const Case cases[] = {
      {"no high byte", 200, {}},
      {"too short", 4, {0, 1, 2, 3}},
      {"high byte in the last four bytes only", 70, {66, 67, 68, 69}},
      {"at the end of the last position", 70, {65}},
      {"around the first block edge", 200, {61, 62, 63, 64, 65, 66}},
      {"just past the first block", 200, {64}},
      {"two bytes past the first block", 200, {65}},
      {"near the end of a short sample", 79, {60, 63, 74}},
      {"second block edge", 300, {127, 128, 129, 191}},
      {"every byte", 150, {}},
  };
  for (const bool withAscii : {false, true}) {
    if (withAscii) Write("c-ascii.dat", ascii.bytes);
    CStatisticsSet set;
    set.Load(Dir());
    ASSERT_EQ(set.Count(), withAscii ? 3u : 2u);
    for (const Case& c : cases) {
      std::string sample;
      for (std::size_t k = 0; k < c.length; ++k) sample += "ab"[k % 2];
      for (std::size_t at : c.high) sample[at] = '\xE9';
      if (std::string(c.what) == "every byte") sample.assign(c.length, '\xE9');
      EXPECT_TRUE(ScoresAlikeAtOnce(set, sample)) << c.what << (withAscii ? ", ASCII keys" : "");
    }
  }
}

// ---- Evidence the scores do not use --------------------------------------------

std::string Encode16(const std::u16string& text, bool bigEndian) {
  std::string out;
  for (char16_t u : text) {
    const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

std::string Encode32(const std::u32string& text, bool bigEndian) {
  std::string out;
  for (char32_t u : text) {
    for (int k = 0; k < 4; ++k) {
      const int shift = bigEndian ? 24 - 8 * k : 8 * k;
      out += static_cast<char>((u >> shift) & 0xFF);
    }
  }
  return out;
}

TEST(DetectionEvidenceTest, UnicodeWithoutAMarkInAnyScript) {
  const std::u16string cyrillic = u"Привет, как дела? Всё хорошо, спасибо.\n";
  const std::u16string greek = u"Καλημέρα σας, τι κάνετε σήμερα;\n";
  const std::u16string chinese = u"我能吞下玻璃而不伤身体。\n天地玄黄，宇宙洪荒。\n";
  const std::u16string emoji = u"\U0001F600 smile \U0001F680 rocket\n";
  const struct {
    const char* what;
    std::string bytes;
    UnicodeForm form;
  } cases[] = {
      {"Cyrillic LE", Encode16(cyrillic, false), UnicodeForm::kUtf16Le},
      {"Cyrillic BE", Encode16(cyrillic, true), UnicodeForm::kUtf16Be},
      {"Greek LE", Encode16(greek, false), UnicodeForm::kUtf16Le},
      {"Chinese LE", Encode16(chinese, false), UnicodeForm::kUtf16Le},
      {"Chinese BE", Encode16(chinese, true), UnicodeForm::kUtf16Be},
      {"surrogate pairs LE", Encode16(emoji, false), UnicodeForm::kUtf16Le},
      {"UTF-32 LE", Encode32(U"\U0001F600 Привет мир, 我能吞下玻璃", false), UnicodeForm::kUtf32Le},
      {"UTF-32 BE", Encode32(U"\U0001F600 Привет мир, 我能吞下玻璃", true), UnicodeForm::kUtf32Be},
      {"ASCII", "Plain ASCII text with some words in it.\n", UnicodeForm::kNone},
      {"Windows-1251",
       "\xCF\xF0\xE8\xE2\xE5\xF2, \xEA\xE0\xEA \xE4\xE5\xEB\xE0? \xC2\xF1\xB8 "
       "\xF5\xEE\xF0\xEE\xF8\xEE.\n",
       UnicodeForm::kNone},
      {"Latin-1",
       "Gr\xFC\xDF"
       "e aus K\xF6ln, sch\xF6nes Wetter heute!\n",
       UnicodeForm::kNone},
      {"too short", Encode16(u"Привет", false), UnicodeForm::kNone},
      // A lone low surrogate every few units: not UTF-16.
      {"lone surrogates",
       Encode16(u"Пр\xDC00ив\xDC00ет\xDC00 м\xDC00ир\xDC00, \xDC00как\xDC00", false),
       UnicodeForm::kNone},
      {"NUL units", std::string(40, '\0'), UnicodeForm::kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DetectUnicodeWithoutMark(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                                       static_cast<std::uint32_t>(c.bytes.size())),
              c.form)
        << c.what;
  }
}

TEST(DetectionEvidenceTest, WellFormedUtf8) {
  const struct {
    std::string bytes;
    bool wellFormed;
  } cases[] = {
      {"caf\xC3\xA9", true},
      {"\xE2\x82\xAC 5", true},
      {"\xF0\x9F\x98\x80!", true},
      {"ab\xC3", false},                // only a cut-off sequence: no evidence
      {"\xC3\xA4 and \xE2\x82", true},  // cut off at the end of the sample
      {"plain ASCII", false},
      {"caf\xE9", false},           // Latin-1
      {"\xC0\xAF", false},          // overlong
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\xC3\xA9\x80", false},  // stray continuation
      {"\xC3\xA9 \xC3(", false},
      // Runs of ASCII are passed over eight bytes at a time.
      {std::string(13, 'a') + "\xC3\xA9", true},
      {std::string(16, 'a') + "\xE9" + std::string(9, 'b'), false},
      {std::string(8, 'a') + "\xC3", false},
      {std::string(7, 'a') + "\xC3\xA9" + std::string(20, 'a') + "\xC3(", false},
      {std::string(23, 'a') + "\xC3\xA9" + std::string(8, 'a') + "\xE2\x82\xAC", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsWellFormedUtf8(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                               static_cast<std::uint32_t>(c.bytes.size())),
              c.wellFormed)
        << c.bytes;
  }
}

// The bytes a sample holds are counted once, at the even and the odd
// offsets; the last byte of a sample of odd length is in neither count and
// must still be seen.
TEST(DetectionEvidenceTest, SampleBytesComeFromBothHalvesAndTheLastByte) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"high byte last, odd length", "abcd\x80"},
      {"high byte last, even length", "abc\x80"},
      {"control last decides: 2 of 101", std::string(1, '\x01') + std::string(99, 'a') + "\x02"},
      {"control last, 1 of 101", std::string(100, 'a') + "\x02"},
      {"one byte", "\xE9"},
      {"empty", ""},
  };
  for (const auto& c : cases) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    const auto n = static_cast<std::uint32_t>(c.bytes.size());
    SampleBytes sample;
    CollectSampleBytes(b, n, &sample);
    std::uint32_t controls = 0;
    for (std::uint32_t c2 = 0; c2 < 256; ++c2) {
      const auto count = static_cast<std::uint32_t>(
          std::count(c.bytes.begin(), c.bytes.end(), static_cast<char>(c2)));
      EXPECT_EQ(sample.present[c2], count != 0) << c.what << ", byte " << c2;
      if (c2 < 0x20 && c2 != 0x09 && c2 != 0x0A && c2 != 0x0C && c2 != 0x0D && c2 != 0x1B)
        controls += count;
    }
    EXPECT_EQ(sample.clearlyText, n > 0 && controls * 100 <= n) << c.what;
  }
}

// The UTF-8 count passes over bytes that cannot lead a sequence eight at a
// time; the decision and the position it names stay those of a byte by
// byte count.
TEST_F(StatisticsTest, Utf8CountNamesTheSamePositionAcrossLongRuns) {
  CAutoDetectionInputFilter filter(Dir(), CodecOptions{});
  const struct {
    const char* what;
    std::string bytes;
    CharsetId charset;
    std::uint32_t decidedAt;  // of the "Analyzed" message, when UTF-8
  } cases[] = {
      {"two sequences after 16 ASCII bytes", std::string(16, 'a') + "\xC3\xA4\xC3\xB6",
       kCharsetUtf8, 18},
      {"second sequence after a long run", "\xC3\xA4" + std::string(21, 'x') + "\xE2\x82\xAC",
       kCharsetUtf8, 23},
      {"continuation bytes are no leads",
       std::string(9, 'a') + "\x80\xBF\x80\xBF\x80\xBF\x80\xBF"
                             "ab\xC3\xA4 \xC3\xB6",
       kCharsetUtf8, 22},
      {"leads in the middle of long runs",
       "\xC3\x89" + std::string(22, 'x') + "\xC3\x80" + std::string(6, 'x'), kCharsetUtf8, 24},
      {"a lead ending a block of sixteen", std::string(15, 'a') + "\xC3\xA4\xC3\xB6", kCharsetUtf8,
       17},
      {"0xFE and 0xFF lead nothing", std::string(10, 'a') + "\xFF\xFE\xC3\xA4\xC3\xB6",
       kCharsetUtf8, 14},
      {"the second lead in the last bytes", std::string(32, 'a') + "\xC3\xA4 \xC3\xB6",
       kCharsetUtf8, 35},
      {"broken ones outweigh", std::string(12, 'a') + "\xC3( \xC3) \xC3\xA4" + std::string(9, 'z'),
       14, 0},
  };
  for (const auto& c : cases) {
    const std::size_t before = log_.narrow().size();
    const DetectionResult& result =
        filter.Examine(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                       static_cast<std::uint32_t>(c.bytes.size()));
    EXPECT_EQ(result.charset, c.charset) << c.what;
    if (c.charset != kCharsetUtf8) continue;
    EXPECT_NE(log_.narrow().substr(before).find("Detected SCS: UTF-8 (Analyzed " +
                                                std::to_string(c.decidedAt) + " Bytes)"),
              std::string::npos)
        << c.what << "\n"
        << log_.narrow();
  }
}

TEST(DetectionEvidenceTest, CleanAndAlikeDecodings) {
  SampleBytes curly;
  const std::string quoted = "\x93quoted\x94 text \x96 and \x80 10\n";
  CollectSampleBytes(reinterpret_cast<const std::uint8_t*>(quoted.data()), quoted.size(), &curly);
  EXPECT_TRUE(curly.clearlyText);
  EXPECT_TRUE(DecodesCleanly(18, curly));   // Windows-1252: quotes, dash, euro
  EXPECT_FALSE(DecodesCleanly(14, curly));  // ISO-8859-15: C1 controls
  SampleBytes undefined;
  const std::string hole = "x\x98y";  // 0x98 is undefined in Windows-1251
  CollectSampleBytes(reinterpret_cast<const std::uint8_t*>(hole.data()), hole.size(), &undefined);
  EXPECT_FALSE(DecodesCleanly(17, undefined));
  EXPECT_TRUE(DecodesCleanly(18, undefined));  // ˜
  SampleBytes binary;
  const std::string controls = std::string("\x01\x02\x03\x93 ab", 7);
  CollectSampleBytes(reinterpret_cast<const std::uint8_t*>(controls.data()), controls.size(),
                     &binary);
  EXPECT_FALSE(binary.clearlyText);
  EXPECT_TRUE(DecodesCleanly(14, binary));  // C1 is no evidence in what is not clearly text
  SampleBytes latin;
  const std::string word = "na\xEFve caf\xE9";
  CollectSampleBytes(reinterpret_cast<const std::uint8_t*>(word.data()), word.size(), &latin);
  EXPECT_TRUE(DecodeAlike(18, 14, latin));
  EXPECT_TRUE(DecodeAlike(18, 20, latin));   // Windows-1254 has ï and é too
  EXPECT_FALSE(DecodeAlike(18, 28, latin));  // DOS-850 does not
  EXPECT_FALSE(DecodeAlike(18, 14, curly));
  EXPECT_LT(PreferenceRank(18), PreferenceRank(14));
  EXPECT_LT(PreferenceRank(14), PreferenceRank(50));
  EXPECT_LT(PreferenceRank(50), PreferenceRank(28));
  EXPECT_LT(PreferenceRank(28), PreferenceRank(48));
}

TEST_F(StatisticsTest, ControlCharactersLoseToACloseCleanSet) {
  // ISO-8859-15 likes the sample a little more, but reads its curly quotes
  // as C1 controls; Windows-1252 reads them as quotes.
  StatFile iso("ISO", 14);
  iso.Block({{0x93, 3.0}, {0x94, 3.0}, {0xE9, 2.0}});
  StatFile windows("WIN", 18);
  windows.Block({{0x93, 2.5}, {0x94, 2.5}, {0xE9, 2.0}});
  Write("a-iso.dat", iso.bytes);
  Write("b-win.dat", windows.bytes);
  const auto [charset, out] = DetectAndDecode(Dir(),
                                              "\x93"
                                              "caf\xE9\x94 et \x93th\xE9\x94 ici\n");
  EXPECT_EQ(charset, 18u);
  EXPECT_EQ(out, Utf16(u"“café” et “thé” ici\n"));
  const std::string log = log_.narrow();
  EXPECT_NE(log.find("ISO-8859-15 reads bytes of the text as undefined or as control characters; "
                     "Windows-1252 is taken\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Detected SCS Windows-1252 (WIN)\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Runner-up: ISO-8859-15 (ISO), -2.000 points behind\r\n"), std::string::npos)
      << log;
}

TEST_F(StatisticsTest, AlikeDecodingsPreferTheCommonerSet) {
  // ISO-8859-15 scores a little better, but Windows-1252 decodes "café"
  // alike and is the set the text's writers use.
  StatFile iso("ISO", 14);
  iso.Block({{0xE9, 20.0}, {0xA4, 20.0}});
  StatFile windows("WIN", 18);
  windows.Block({{0xE9, 19.0}, {0xA4, 19.0}});
  Write("a-iso.dat", iso.bytes);
  Write("b-win.dat", windows.bytes);
  const struct {
    std::string input;
    CharsetId charset;
    std::u16string text;
  } cases[] = {
      {"caf\xE9 caf\xE9 ok\n", 18, u"café café ok\n"},
      // 0xA4 is € in ISO-8859-15 and ¤ in Windows-1252: not alike, the score decides.
      {"caf\xE9 \xA4 5 ok\n", 14, u"café € 5 ok\n"},
  };
  for (const auto& c : cases) {
    const auto [charset, out] = DetectAndDecode(Dir(), c.input);
    EXPECT_EQ(charset, c.charset) << c.input;
    EXPECT_EQ(out, Utf16(c.text)) << c.input;
  }
}

}  // namespace
}  // namespace ordana
