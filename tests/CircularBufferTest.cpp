#include "transport/serial/CircularBuffer.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

namespace zorvid {
namespace {

// Takes everything the buffer holds, piece by piece, as the write thread does.
std::string Drain(TCircularBuffer& buffer) {
  std::string taken;
  while (const std::size_t piece = buffer.ReadableInOnePiece()) {
    taken.append(buffer.ReadPosition(), piece);
    EXPECT_TRUE(buffer.Remove(piece));
  }
  return taken;
}

bool Append(TCircularBuffer& buffer, const std::string& bytes) {
  return buffer.Append(bytes.data(), bytes.size());
}

TEST(CircularBufferTest, EmptyAndZeroSizedBuffersHaveNothingToRead) {
  TCircularBuffer buffer(8);
  EXPECT_EQ(buffer.Used(), 0u);
  EXPECT_EQ(buffer.Free(), 8u);
  EXPECT_EQ(buffer.ReadableInOnePiece(), 0u);
  EXPECT_TRUE(buffer.Remove(0));
  EXPECT_FALSE(buffer.Remove(1));

  TCircularBuffer none(0);  // refuses everything
  EXPECT_FALSE(Append(none, "a"));
  EXPECT_EQ(none.Free(), 0u);
  EXPECT_EQ(none.ReadableInOnePiece(), 0u);
}

TEST(CircularBufferTest, RefusedAppendsAndRemovalsChangeNothing) {
  TCircularBuffer buffer(8);
  ASSERT_TRUE(Append(buffer, "abc"));
  EXPECT_FALSE(buffer.Append("x", 0));
  EXPECT_FALSE(Append(buffer, "123456"));  // one more than the five free
  EXPECT_FALSE(buffer.Remove(4));          // one more than used
  EXPECT_EQ(buffer.Used(), 3u);
  EXPECT_EQ(Drain(buffer), "abc");
}

TEST(CircularBufferTest, IndicesMeetingAtTheEndMakeItFull) {
  TCircularBuffer buffer(8);
  ASSERT_TRUE(Append(buffer, "abcdefgh"));
  EXPECT_EQ(buffer.Used(), 8u);
  EXPECT_EQ(buffer.Free(), 0u);
  EXPECT_EQ(buffer.ReadableInOnePiece(), 8u);
  EXPECT_FALSE(Append(buffer, "i"));
  ASSERT_TRUE(buffer.Remove(1));  // any removal clears the full flag
  EXPECT_EQ(buffer.Used(), 7u);
  EXPECT_EQ(Drain(buffer), "bcdefgh");
  EXPECT_EQ(buffer.Used(), 0u);
}

TEST(CircularBufferTest, AppendAcrossTheEndIsReadInTwoPieces) {
  TCircularBuffer buffer(8);
  ASSERT_TRUE(Append(buffer, "abcdef"));
  ASSERT_TRUE(buffer.Remove(4));
  ASSERT_TRUE(Append(buffer, "ghijk"));  // two at the end, three at the start
  EXPECT_EQ(buffer.Used(), 7u);
  EXPECT_EQ(buffer.ReadableInOnePiece(), 4u);
  EXPECT_EQ(std::string(buffer.ReadPosition(), 4), "efgh");
  ASSERT_TRUE(buffer.Remove(4));
  EXPECT_EQ(buffer.ReadableInOnePiece(), 3u);
  EXPECT_EQ(std::string(buffer.ReadPosition(), 3), "ijk");
}

TEST(CircularBufferTest, IndicesMeetingInTheMiddleMakeItFull) {
  TCircularBuffer buffer(8);
  ASSERT_TRUE(Append(buffer, "abcde"));
  ASSERT_TRUE(buffer.Remove(5));
  ASSERT_TRUE(Append(buffer, "12345678"));
  EXPECT_EQ(buffer.Used(), 8u);
  EXPECT_EQ(buffer.ReadableInOnePiece(), 3u);  // up to the end of the array
  EXPECT_FALSE(Append(buffer, "9"));
  EXPECT_EQ(Drain(buffer), "12345678");
}

TEST(CircularBufferTest, ClearEmptiesAFullBuffer) {
  TCircularBuffer buffer(4);
  ASSERT_TRUE(Append(buffer, "ab"));
  ASSERT_TRUE(buffer.Remove(1));
  ASSERT_TRUE(Append(buffer, "cde"));
  buffer.Clear();
  EXPECT_EQ(buffer.Used(), 0u);
  EXPECT_EQ(buffer.ReadableInOnePiece(), 0u);
  ASSERT_TRUE(Append(buffer, "wxyz"));
  EXPECT_EQ(Drain(buffer), "wxyz");
}

// Random appends and removals against a plain queue: the bytes come out as they went in.
TEST(CircularBufferTest, KeepsOrderThroughRandomTraffic) {
  TCircularBuffer buffer(13);
  std::deque<char> model;
  std::mt19937 random(7);
  char next = 0;
  for (int step = 0; step < 5000; ++step) {
    const std::size_t count = random() % 16;
    if (random() % 2) {
      std::string bytes;
      for (std::size_t i = 0; i < count; ++i)
        bytes += next++;
      const bool fits = count >= 1 && count <= 13 - model.size();
      ASSERT_EQ(Append(buffer, bytes), fits) << "step " << step;
      if (fits) model.insert(model.end(), bytes.begin(), bytes.end());
    } else {
      const std::size_t piece = std::min(count, buffer.ReadableInOnePiece());
      ASSERT_EQ(std::string(buffer.ReadPosition(), piece),
                std::string(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(piece)))
          << "step " << step;
      ASSERT_TRUE(buffer.Remove(piece));
      model.erase(model.begin(), model.begin() + static_cast<std::ptrdiff_t>(piece));
    }
    ASSERT_EQ(buffer.Used(), model.size()) << "step " << step;
  }
}

}  // namespace
}  // namespace zorvid
