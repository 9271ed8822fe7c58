#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "core/FilePersistenceFilter.h"
#include "core/Filter.h"

namespace ordana {
namespace {

using test::LogCapture;
using test::RecordingFilter;

void Fill(CBuffer& buffer, const std::string& bytes) {
  buffer.Clear();
  ASSERT_TRUE(buffer.Append(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

// Consumes complete pairs of bytes and swaps them; an odd byte waits for the
// next chunk. A stand-in for a codec with an incomplete tail.
class PairSwapFilter : public CFilter {
 public:
  PairSwapFilter() : CFilter(kCategoryTransform) { name_ = u"Swap"; }
  std::int32_t Filter() override {
    std::uint32_t n = pending_.length() & ~1u;
    for (std::uint32_t k = 0; k < n; k += 2) {
      std::uint8_t pair[2] = {pending_.base()[k + 1], pending_.base()[k]};
      EXPECT_TRUE(output_.Append(pair, 2));
    }
    pending_.Discard(n);
    return 0;
  }
};

TEST(FilterChainTest, EmptyChainLeavesTheInputAlone) {
  CFilterChain chain;
  CBuffer input;
  Fill(input, "abc");
  EXPECT_TRUE(chain.Process(input, 0));
  EXPECT_EQ(input.length(), 3u);
  EXPECT_TRUE(chain.Flush());
  EXPECT_TRUE(chain.Reset());
  EXPECT_TRUE(chain.Finish());
}

TEST(FilterChainTest, DisabledFilterPassesThroughAndSaysSo) {
  LogCapture log(5);
  CFilterChain chain;
  chain.Append(new CNulFilter());
  auto* middle = static_cast<CFilter*>(chain.Append(new PairSwapFilter()));
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  middle->Disable();
  CBuffer input;
  Fill(input, "abcde");
  EXPECT_TRUE(chain.Process(input, 0));
  EXPECT_TRUE(input.empty());
  EXPECT_EQ(sink->received, "abcde");
  const std::string text = log.narrow();
  EXPECT_NE(text.find("Skipped filter because \"Swap\" is disabled\r\n"
                      "Filtering skipped, forwarding (5 Bytes)...\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("Forwarding (5 Bytes) to \"Swap\", Enabled: 1\r\n"), std::string::npos);
}

TEST(FilterChainTest, TailWaitsForTheNextChunkAndIsDroppedAtTheEnd) {
  CFilterChain chain;
  chain.Append(new PairSwapFilter());
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  CBuffer input;
  Fill(input, "abc");
  EXPECT_TRUE(chain.Process(input, 0));
  EXPECT_EQ(sink->received, "ba");
  Fill(input, "de");
  EXPECT_TRUE(chain.Process(input, 3));
  EXPECT_EQ(sink->received, "badc");
  EXPECT_EQ(static_cast<CFilter*>(chain.head())->pending().length(), 1u);  // "e" waits
  EXPECT_TRUE(chain.Flush());
  EXPECT_TRUE(chain.Finish());
  EXPECT_EQ(sink->received, "badc");  // a truncated unit produces nothing
  chain.Reset();
  EXPECT_TRUE(static_cast<CFilter*>(chain.head())->pending().empty());
}

TEST(FilterChainTest, OnlyTheFirstFilterSeesTheStreamOffset) {
  CFilterChain chain;
  auto* first = static_cast<CFilter*>(chain.Append(new CNulFilter()));
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  CBuffer input;
  Fill(input, "xy");
  EXPECT_TRUE(chain.Process(input, 2097152));
  EXPECT_EQ(first->streamOffset(), 2097152u);
  EXPECT_EQ(sink->streamOffset(), 0u);
}

TEST(FilterChainTest, ProcessWithEmptyInputStillFiltersWhatIsPending) {
  CFilterChain chain;
  auto* swap = static_cast<CFilter*>(chain.Append(new PairSwapFilter()));
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  EXPECT_TRUE(swap->pending().Append("xy", 2));
  CBuffer empty;
  EXPECT_TRUE(chain.Process(empty, 0));
  EXPECT_EQ(sink->received, "yx");
}

// A filter with nothing pending takes the sender's buffer whole (the sender
// gets an empty one back); one with a tail waiting has the input appended
// behind it. Either way the bytes and the tail come out as they went in.
TEST(FilterChainTest, WholeBufferHandedOverWhenNothingWaits) {
  struct Case {
    const char* waiting;  // already pending in the filter
    const char* input;
    bool handedOver;  // the filter's pending input is the sender's buffer
    const char* received;
    const char* afterMore;  // received once "fg" has come too
  };
  const Case cases[] = {
      {"", "abcd", true, "badc", "badcgf"},
      {"", "abcde", true, "badc", "badcfe"},
      {"x", "abcd", false, "axcb", "axcbfd"},
  };
  for (const Case& c : cases) {
    CFilterChain chain;
    auto* swap = static_cast<CFilter*>(chain.Append(new PairSwapFilter()));
    auto* sink = new RecordingFilter();
    chain.Append(sink);
    if (*c.waiting) {
      ASSERT_TRUE(swap->pending().Append(c.waiting, 1));
    }
    CBuffer input;
    Fill(input, c.input);
    std::uint8_t* const sent = input.base();
    std::uint8_t* const own = swap->pending().base();
    EXPECT_TRUE(chain.Process(input, 0));
    EXPECT_TRUE(input.empty()) << c.input;
    EXPECT_EQ(swap->pending().base() == sent, c.handedOver) << c.input;
    EXPECT_EQ(input.base() == own, c.handedOver) << c.input;
    EXPECT_EQ(sink->received, c.received) << c.input;
    // The sender fills the buffer it got back, as a reader does.
    Fill(input, "fg");
    EXPECT_TRUE(chain.Process(input, 4));
    EXPECT_TRUE(input.empty()) << c.input;
    EXPECT_EQ(sink->received, c.afterMore) << c.input;
  }
}

TEST(FilterChainTest, FlushPutsPendingInFrontOfAnotherBuffer) {
  PairSwapFilter filter;
  EXPECT_TRUE(filter.pending().Append("12", 2));
  CBuffer target;
  Fill(target, "34");
  EXPECT_TRUE(filter.Flush(target));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(target.base()), target.length()), "1234");
  EXPECT_EQ(filter.pending().length(), 2u);  // not consumed
}

TEST(FilterChainTest, LastFilterWithoutSuccessorNeverOverflows) {
  // A pass-through filter with nobody behind it keeps what it gets. Three
  // full chunks are more than its 4 MiB: the rest must be refused, not
  // written past the buffer.
  LogCapture log(1);
  CFilterChain chain;
  auto* only = static_cast<CFilter*>(chain.Append(new CNulFilter()));
  CBuffer input;
  std::string chunk(CBuffer::kCommitSize, 'q');
  for (int k = 0; k < 3; ++k) {
    Fill(input, chunk);
    EXPECT_TRUE(chain.Process(input, 0));
    EXPECT_TRUE(input.empty());
  }
  EXPECT_EQ(only->pending().length(), CBuffer::kReservationSize);
  EXPECT_NE(log.narrow().find("could not take 2097152 more bytes"), std::string::npos);
}

TEST(FilterChainTest, PersistenceKeepOpenSurvivesReset) {
  test::TempDir dir;
  CFilePersistenceFilter filter;
  ASSERT_TRUE(filter.stream().Create(dir.File16("out.bin").c_str(), platform::kGenericWrite,
                                     platform::kFileShareRead));
  filter.SetKeepOpen(true);
  EXPECT_TRUE(filter.pending().Append("data", 4));
  EXPECT_EQ(filter.Filter(), 1);
  EXPECT_TRUE(filter.Reset());
  EXPECT_TRUE(filter.stream().IsOpen());
  filter.SetKeepOpen(false);
  filter.Reset();
  EXPECT_FALSE(filter.stream().IsOpen());
  EXPECT_EQ(test::ReadWholeFile(dir.File("out.bin")), "data");
  EXPECT_EQ(filter.writeError(), 0u);
}

TEST(FilterChainTest, PersistenceRemembersAFailedWrite) {
  CFilePersistenceFilter filter;  // its stream is not open
  EXPECT_TRUE(filter.pending().Append("lost", 4));
  filter.Filter();
  EXPECT_NE(filter.writeError(), 0u);
  filter.Reset();
  EXPECT_NE(filter.writeError(), 0u);  // still there for the driver
  filter.ClearWriteError();
  EXPECT_EQ(filter.writeError(), 0u);
}

TEST(FilterChainTest, FilterIdentities) {
  CNulFilter nul;
  CFilePersistenceFilter persistence;
  EXPECT_EQ(std::u16string(nul.GetName()), u"NUL Filter");
  EXPECT_EQ(nul.GetType(), 0u);
  EXPECT_EQ(nul.category(), 0u);
  EXPECT_EQ(std::u16string(persistence.GetName()), u"File Persistence Filter");
  EXPECT_EQ(persistence.GetType(), 4u);
  EXPECT_EQ(persistence.category(), 8u);
  EXPECT_TRUE(nul.IsEnabled());
}

}  // namespace
}  // namespace ordana
