// ordana-stats' parts against the detection: what the tool writes, the
// detection's loader reads back entry by entry, and the tool's own scorer
// computes what the detection computes from the file.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "detection/StatisticsFiles.h"
#include "ordana-stats/Model.h"
#include "ordana-stats/NgramCounter.h"
#include "ordana-stats/Options.h"
#include "ordana-stats/StatisticsFile.h"

namespace ordana {
namespace {

using stats::Entry;
using stats::Tables;

struct RoundTripCase {
  const char* what;
  char label[4];
  CharsetId charset;
  Tables tables;
};

// Writes `tables` as the tool does and loads the file as the detection does.
StatisticsLoad WriteAndLoad(const test::TempDir& dir, const std::string& name,
                            const char (&label)[4], CharsetId charset, const Tables& tables,
                            CStatisticsModel* model) {
  std::string why;
  const std::string path = dir.File(name);
  EXPECT_TRUE(
      stats::WriteFileAtomically(path, stats::SerializeStatistics(label, charset, tables), &why))
      << why;
  return LoadStatisticsModel(dir.File16(name).c_str(), model);
}

// Every entry of `tables` is in `model` with the weight the detection uses:
// single bytes as they are, pairs and triples divided by their multipliers.
void ExpectSameEntries(const Tables& tables, const CStatisticsModel& model) {
  double singles[256] = {};
  for (const Entry& e : tables.singles) singles[e.key] = e.weight;
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(model.SingleWeight(static_cast<std::uint8_t>(b)), singles[b]) << "byte " << b;
  }
  std::vector<std::pair<std::uint32_t, double>> pairs, triples;
  model.ForEachPair([&](std::uint32_t key, double weight) { pairs.emplace_back(key, weight); });
  model.ForEachTriple([&](std::uint32_t key, double weight) { triples.emplace_back(key, weight); });
  ASSERT_EQ(pairs.size(), tables.pairs.size());
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    EXPECT_EQ(pairs[k].first, tables.pairs[k].key);
    EXPECT_EQ(pairs[k].second, tables.pairs[k].weight / stats::kPairMultiplier);
  }
  ASSERT_EQ(triples.size(), tables.triples.size());
  for (std::size_t k = 0; k < triples.size(); ++k) {
    EXPECT_EQ(triples[k].first, tables.triples[k].key);
    EXPECT_EQ(triples[k].second, tables.triples[k].weight / stats::kTripleMultiplier);
  }
}

TEST(StatsToolFileTest, WhatTheToolWritesTheDetectionReadsBack) {
  Tables all;
  for (std::uint32_t b = 0; b < 256; ++b) all.singles.push_back({b, b < 0x80 ? 0.0 : -3.25 + b});
  all.pairs = {{0x0000, -1.5}, {0x20E9, 12.125}, {0xE9E9, -0.0625}, {0xFFFF, 99.0}};
  all.triples = {{0x000000, 1.0}, {0x20E920, -7.75}, {0xFFFFFF, 4000.5}};
  Tables singlesOnly;
  singlesOnly.singles = {{0xE9, -2.5}, {0xFF, 3.0}};
  Tables extremes;
  extremes.singles = {{0x80, -9999.0}};
  extremes.pairs = {{0x80FF, 9999.0 * stats::kPairMultiplier}};
  extremes.triples = {{0x1, -9999.0 * stats::kTripleMultiplier}};
  const RoundTripCase cases[] = {
      {"every block", {'R', 'U', 'S', 0}, 18, all},
      {"a full label, no pairs or triples", {'W', '1', '2', '5'}, 0, singlesOnly},
      {"weights near the loader's limit", {'X', 0, 0, 0}, 59, extremes},
  };
  test::TempDir dir;
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.what);
    CStatisticsModel model;
    ASSERT_EQ(WriteAndLoad(dir, "t.dat", c.label, c.charset, c.tables, &model),
              StatisticsLoad::kLoaded);
    EXPECT_EQ(model.charset, c.charset);
    EXPECT_EQ(std::memcmp(model.label, c.label, 4), 0);
    ExpectSameEntries(c.tables, model);
  }
}

// A model counted from text and written out: the detection reads every entry
// back, and scores any bytes exactly as the tool's scorer says it will.
TEST(StatsToolFileTest, TheToolScoresAsTheDetectionScoresTheFile) {
  test::TempDir dir;
  std::string sample;
  for (int k = 0; k < 200; ++k) {
    sample += "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80! ";
    sample += "plain words \xC2\xAB\xD1\x82\xD0\xB5\xD0\xBA\xD1\x81\xD1\x82\xC2\xBB\n";
  }
  test::WriteWholeFile(dir.File("sample.txt"), sample);
  stats::Options options;
  options.charset = 18;
  options.minCount = 1;
  stats::NgramCounter counter(options.charset);
  ASSERT_TRUE(counter.AddSample(dir.File("sample.txt")));
  ASSERT_FALSE(counter.Encoded().empty());
  const Tables tables = stats::ComputeWeights(options.charset, counter, options);
  ASSERT_FALSE(tables.pairs.empty());
  ASSERT_FALSE(tables.triples.empty());

  CStatisticsModel model;
  ASSERT_EQ(WriteAndLoad(dir, "cyr.dat", {'C', 'Y', 'R', 0}, options.charset, tables, &model),
            StatisticsLoad::kLoaded);
  ExpectSameEntries(tables, model);

  const stats::DetectionScorer scorer(tables);
  std::mt19937 random(15);
  std::vector<std::vector<std::uint8_t>> samples = {counter.Encoded(), {}, {0xEF, 0xF0, 0xE8}};
  for (std::size_t length : {5u, 6u, 64u, 4096u}) {
    std::vector<std::uint8_t> bytes(length);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
    samples.push_back(bytes);
  }
  for (const std::vector<std::uint8_t>& bytes : samples) {
    SCOPED_TRACE(bytes.size());
    EXPECT_EQ(scorer.Score(bytes.data(), bytes.size()),
              model.Score(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  }
}

}  // namespace
}  // namespace ordana
