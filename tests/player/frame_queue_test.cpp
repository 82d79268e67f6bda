#include "player/frame_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Pushes a one-byte frame whose byte tells the frames apart.
void PushTagged(CFrameQueue& queue, uint8_t tag, uint32_t keyFlag) {
  queue.Push(1, &tag, keyFlag, 1000u + tag, 0, 0);
}

std::vector<uint8_t> DrainTags(CFrameQueue& queue) {
  std::vector<uint8_t> tags;
  FrameItem item;
  while (queue.Pop(&item)) tags.push_back(item.data[0]);
  return tags;
}

TEST(FrameQueue, RefusesNonKeyItemsUntilTheFirstKeyItemThenAcceptsEverything) {
  CFrameQueue queue;
  PushTagged(queue, 1, 0);
  EXPECT_EQ(queue.Count(), 0u);
  FrameItem item;
  EXPECT_FALSE(queue.Pop(&item));

  PushTagged(queue, 2, 1);
  PushTagged(queue, 3, 0);
  EXPECT_EQ(queue.Count(), 2u);
  EXPECT_EQ(DrainTags(queue), (std::vector<uint8_t>{2, 3}));

  // The gate stays open once opened, even with the queue empty again.
  PushTagged(queue, 4, 0);
  EXPECT_EQ(DrainTags(queue), (std::vector<uint8_t>{4}));
}

struct FlushCase {
  const char* name;
  int waiting;       // items queued before the last push (the first is a key item)
  uint32_t keyFlag;  // of the last push
  std::vector<uint8_t> expected;
};

class FrameQueueFlush : public ::testing::TestWithParam<FlushCase> {};

TEST_P(FrameQueueFlush, AKeyItemFindingMoreThanTenWaitingDiscardsThemAll) {
  const FlushCase& c = GetParam();
  CFrameQueue queue;
  for (int i = 0; i < c.waiting; ++i) PushTagged(queue, static_cast<uint8_t>(i), i == 0 ? 1 : 0);
  PushTagged(queue, 99, c.keyFlag);
  EXPECT_EQ(DrainTags(queue), c.expected);
}

std::vector<uint8_t> Sequence(int n, uint8_t last) {
  std::vector<uint8_t> tags;
  for (int i = 0; i < n; ++i) tags.push_back(static_cast<uint8_t>(i));
  tags.push_back(last);
  return tags;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameQueueFlush,
    ::testing::Values(FlushCase{"tenWaitingKeyAppends", 10, 1, Sequence(10, 99)},
                      FlushCase{"elevenWaitingKeyFlushes", 11, 1, {99}},
                      FlushCase{"thirtyWaitingKeyFlushes", 30, 1, {99}},
                      FlushCase{"elevenWaitingNonKeyAppends", 11, 0, Sequence(11, 99)},
                      FlushCase{"thirtyWaitingNonKeyAppends", 30, 0, Sequence(30, 99)}),
    [](const ::testing::TestParamInfo<FlushCase>& info) { return info.param.name; });

TEST(FrameQueue, CopiesThePayloadAndHandsTheCopyWithItsFieldsToPop) {
  CFrameQueue queue;
  std::vector<uint8_t> payload = {1, 2, 3, 4, 5};
  queue.Push(5, payload.data(), 1, 4000000000u, 640, 480);
  payload.assign(5, 0xEE);  // the producer reuses its buffer at once

  FrameItem item;
  ASSERT_TRUE(queue.Pop(&item));
  EXPECT_EQ(item.length, 5);
  EXPECT_EQ(std::vector<uint8_t>(item.data.get(), item.data.get() + 5),
            (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(item.keyFlag, 1u);
  EXPECT_EQ(item.timestamp, 4000000000u);
  EXPECT_EQ(item.width, 640);
  EXPECT_EQ(item.height, 480);
  EXPECT_EQ(queue.Count(), 0u);
}

TEST(FrameQueue, QueuesAnEmptyPayloadLikeAnyOther) {
  CFrameQueue queue;
  queue.Push(0, nullptr, 1, 7, 0, 0);
  FrameItem item;
  ASSERT_TRUE(queue.Pop(&item));
  EXPECT_EQ(item.length, 0);
  EXPECT_EQ(item.timestamp, 7u);
}

TEST(FrameQueue, DestroyingAQueueWithWaitingItemsFreesEachPayloadOnce) {
  // The sanitizer build turns a leak or a double free here into a failure.
  auto queue = std::make_unique<CFrameQueue>();
  std::vector<uint8_t> big(100000, 0x5A);
  for (int i = 0; i < 25; ++i)
    queue->Push(static_cast<int32_t>(big.size()), big.data(), 1, 0, 0, 0);
  FrameItem popped;
  ASSERT_TRUE(queue->Pop(&popped));
  queue.reset();
  EXPECT_EQ(popped.data[99999], 0x5A);  // what was popped outlives the queue
}

}  // namespace
