#include "player/frame_queue.h"

#include <cstring>
#include <new>

CFrameQueue::CFrameQueue() = default;

CFrameQueue::~CFrameQueue() {
  CriticalSectionGuard guard(lock);
  Clear();
}

int CFrameQueue::Push(int32_t length, const uint8_t* data, uint32_t keyFlag, uint32_t timestamp,
                      int32_t width, int32_t height) {
  CriticalSectionGuard guard(lock);
  if (waitKey == 1 && keyFlag == 0) return 1;
  waitKey = 0;
  if (keyFlag != 0 && count > FLUSH_THRESHOLD) Clear();

  const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
  if (!copy) return 1;
  if (size > 0) std::memcpy(copy.get(), data, size);

  // A list node that cannot be allocated drops the frame like a payload that cannot.
  try {
    items.push_back(FrameItem{length, std::move(copy), keyFlag, timestamp, width, height});
  } catch (const std::bad_alloc&) {
    return 1;
  }
  ++count;
  return 1;
}

bool CFrameQueue::Pop(FrameItem* item) {
  CriticalSectionGuard guard(lock);
  if (count == 0) return false;
  *item = std::move(items.front());
  items.pop_front();
  --count;
  return true;
}

uint32_t CFrameQueue::Count() {
  CriticalSectionGuard guard(lock);
  return count;
}

void CFrameQueue::Clear() {
  items.clear();
  count = 0;
}
