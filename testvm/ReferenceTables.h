// ART's indirect reference tables: a thread's local references with their
// frames and segment state, and the process's global and weak global tables.
#pragma once

#include <jni.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace testvm {

struct Object;

// The low two bits of every reference value, as ART tags them. 0 is a
// reference into a native call's handle scope.
enum RefKind : std::uint32_t { kHandleRef = 0, kLocalRef = 1, kGlobalRef = 2, kWeakGlobalRef = 3 };

RefKind refKindOf(jobject ref);

// Reference value encoding of a runtime at `sdkInt`: above 25 the slot sits at
// bit 4 (bits 2-3 carry a serial for global tables only), at 25 and below the
// serial at bit 20 and the slot at bit 2.
jobject encodeRef(int sdkInt, std::uint32_t slot, std::uint32_t serial, RefKind kind);
std::uint32_t slotOfRef(int sdkInt, jobject ref);
bool serialMatches(int sdkInt, jobject ref, std::uint32_t serial, RefKind kind);

enum class FrameKind { kNativeCall, kPushedFrame };

class LocalRefTable {
 public:
  // `segmentState` and `cookie` are the env object's words that mirror the
  // table, as ART's JNIEnvExt holds them.
  LocalRefTable(int sdkInt, std::uint32_t* segmentState, std::uint32_t* cookie);

  jobject add(Object* object);  // null when the table is full
  // The object of a live reference of this table; false when it is none.
  bool get(jobject ref, Object** object) const;
  // Result of a removal: done, ignored (an entry of an outer frame), or invalid.
  enum class Removal { kRemoved, kOuterFrame, kInvalid };
  Removal remove(jobject ref);

  void pushFrame(FrameKind kind);
  // Pops the innermost pushed frame; false when the innermost is a native call's.
  bool popPushedFrame();
  // Pops frames up to and including the innermost native call frame.
  void popNativeCallFrame();
  bool hasRoomFor(std::size_t count) const;

  std::uint32_t top() const { return top_; }
  std::size_t liveCount() const;
  std::uint32_t capacity() const { return capacity_; }
  void forEachLive(const std::function<void(Object*)>& visit) const;

 private:
  struct Slot {
    Object* object = nullptr;
    std::uint32_t serial = 0;
  };
  struct Frame {
    FrameKind kind;
    std::uint32_t top;
    std::uint32_t holes;
  };
  std::uint32_t segmentStart() const { return frames_.empty() ? 0 : frames_.back().top; }
  std::uint32_t segmentHoles() const { return holes_ - (frames_.empty() ? 0 : frames_.back().holes); }
  bool slotOf(jobject ref, std::uint32_t* slot) const;
  void publish();

  int sdkInt_;
  std::uint32_t capacity_;
  std::uint32_t* segmentState_;
  std::uint32_t* cookie_;
  std::vector<Slot> slots_;
  std::uint32_t top_ = 0;
  std::uint32_t holes_ = 0;  // empty slots below top_
  std::vector<Frame> frames_;
};

class GlobalRefTable {
 public:
  GlobalRefTable(int sdkInt, RefKind kind, std::uint32_t capacity);

  jobject add(Object* object);  // null when the table is full
  // Weak entries whose referent was collected give a null object.
  bool get(jobject ref, Object** object) const;
  bool remove(jobject ref);
  std::size_t size() const { return count_; }
  void forEachLive(const std::function<void(Object*)>& visit) const;
  // Clears the entries whose referent is not marked (weak table after a collection).
  void clearUnmarked();

 private:
  struct Slot {
    Object* object = nullptr;
    std::uint32_t serial = 0;
    bool used = false;
  };
  bool slotOf(jobject ref, std::uint32_t* slot) const;

  int sdkInt_;
  RefKind kind_;
  std::uint32_t capacity_;
  std::vector<Slot> slots_;
  std::vector<std::uint32_t> free_;
  std::size_t count_ = 0;
};

}  // namespace testvm
