#pragma once

#include <cstdint>
#include <list>
#include <memory>

#include "platform/critical_section.h"

// One compressed frame on its way between two threads. The item owns its payload.
struct FrameItem {
  int32_t length = 0;
  std::unique_ptr<uint8_t[]> data;  // the queue's own copy; moved to whoever pops the item
  uint32_t keyFlag = 0;             // non-zero: decoding or recording can begin here
  uint32_t timestamp = 0;           // capture time, seconds since 1970; 0 for recording items
  int32_t width = 0;                // picture size; 0 for items queued by InputData
  int32_t height = 0;
};

// Locked FIFO of compressed frames between one producer and one consumer thread.
// Two rules of its own: until the first key item it accepts nothing else (the key gate),
// and a key item that finds more than 10 items waiting discards them all first (the flush
// rule), so a slow consumer resumes at a key item. Consumers poll; nothing is signalled.
class CFrameQueue {
 public:
  CFrameQueue();
  ~CFrameQueue();
  CFrameQueue(const CFrameQueue&) = delete;
  CFrameQueue& operator=(const CFrameQueue&) = delete;

  // Copies length bytes of data; the caller keeps its buffer. Returns 1 whether or not the
  // frame was queued.
  int Push(int32_t length, const uint8_t* data, uint32_t keyFlag, uint32_t timestamp, int32_t width,
           int32_t height);

  // Moves the front item out. Returns false, changing nothing, when the queue is empty.
  bool Pop(FrameItem* item);

  // Items waiting now (for tools that feed the queue without letting it flush).
  uint32_t Count();

  static constexpr uint32_t FLUSH_THRESHOLD = 10;

 private:
  // Frees every waiting item; the caller holds lock.
  void Clear();

  std::list<FrameItem> items;
  uint32_t count = 0;
  CCriticalSection lock;  // guards items, count and waitKey
  int32_t waitKey = 1;
};
