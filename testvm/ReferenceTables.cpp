#include "ReferenceTables.h"

#include "ObjectModel.h"

namespace testvm {
namespace {

bool artBeforeOreo(int sdkInt) { return sdkInt <= 25; }

constexpr std::uint32_t kSerialMask = 0xFFF;  // bits 20-31 at SDK 25 and below
constexpr std::uint32_t kOreoSerialMask = 0x3;

}  // namespace

RefKind refKindOf(jobject ref) { return static_cast<RefKind>(reinterpret_cast<std::uintptr_t>(ref) & 3u); }

jobject encodeRef(int sdkInt, std::uint32_t slot, std::uint32_t serial, RefKind kind) {
  std::uintptr_t value;
  if (artBeforeOreo(sdkInt)) {
    value = (static_cast<std::uintptr_t>(serial & kSerialMask) << 20) | (slot << 2) | kind;
  } else {
    std::uintptr_t serialBits = kind == kLocalRef ? 0 : (serial & kOreoSerialMask) << 2;
    value = (static_cast<std::uintptr_t>(slot) << 4) | serialBits | kind;
  }
  return reinterpret_cast<jobject>(value);
}

std::uint32_t slotOfRef(int sdkInt, jobject ref) {
  auto value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(ref));
  return artBeforeOreo(sdkInt) ? (value >> 2) & 0x3FFFF : value >> 4;
}

bool serialMatches(int sdkInt, jobject ref, std::uint32_t serial, RefKind kind) {
  return encodeRef(sdkInt, slotOfRef(sdkInt, ref), serial, kind) == ref;
}

// --- LocalRefTable ---------------------------------------------------------

LocalRefTable::LocalRefTable(int sdkInt, std::uint32_t* segmentState, std::uint32_t* cookie)
    // ART before Oreo aborts past 512 local references; later ones grow the
    // table, here up to a size no test reaches by accident.
    : sdkInt_(sdkInt),
      capacity_(artBeforeOreo(sdkInt) ? 512 : 65536),
      segmentState_(segmentState),
      cookie_(cookie) {
  publish();
}

void LocalRefTable::publish() {
  if (artBeforeOreo(sdkInt_)) {
    *segmentState_ = (holes_ << 16) | top_;
    *cookie_ = frames_.empty() ? 0 : (frames_.back().holes << 16) | frames_.back().top;
  } else {
    *segmentState_ = top_;
    *cookie_ = segmentStart();
  }
}

jobject LocalRefTable::add(Object* object) {
  std::uint32_t slot;
  if (segmentHoles() > 0) {
    // As ART does: the hole nearest the top is refilled.
    slot = top_ - 1;
    while (slots_[slot].object != nullptr) --slot;
    --holes_;
  } else {
    if (top_ >= capacity_) return nullptr;
    slot = top_++;
    if (slot == slots_.size()) slots_.emplace_back();
  }
  slots_[slot].object = object;
  slots_[slot].serial = (slots_[slot].serial + 1) & kSerialMask;
  publish();
  return encodeRef(sdkInt_, slot, slots_[slot].serial, kLocalRef);
}

bool LocalRefTable::slotOf(jobject ref, std::uint32_t* slot) const {
  if (refKindOf(ref) != kLocalRef) return false;
  *slot = slotOfRef(sdkInt_, ref);
  return *slot < top_ && serialMatches(sdkInt_, ref, slots_[*slot].serial, kLocalRef);
}

bool LocalRefTable::get(jobject ref, Object** object) const {
  std::uint32_t slot;
  if (!slotOf(ref, &slot) || slots_[slot].object == nullptr) return false;
  *object = slots_[slot].object;
  return true;
}

LocalRefTable::Removal LocalRefTable::remove(jobject ref) {
  std::uint32_t slot;
  if (!slotOf(ref, &slot) || slots_[slot].object == nullptr) return Removal::kInvalid;
  if (slot < segmentStart()) return Removal::kOuterFrame;
  slots_[slot].object = nullptr;
  if (slot == top_ - 1) {
    --top_;
    while (top_ > segmentStart() && segmentHoles() > 0 && slots_[top_ - 1].object == nullptr) {
      --top_;
      --holes_;
    }
  } else {
    ++holes_;
  }
  publish();
  return Removal::kRemoved;
}

void LocalRefTable::pushFrame(FrameKind kind) {
  frames_.push_back(Frame{kind, top_, holes_});
  publish();
}

bool LocalRefTable::popPushedFrame() {
  if (frames_.empty() || frames_.back().kind != FrameKind::kPushedFrame) return false;
  top_ = frames_.back().top;
  holes_ = frames_.back().holes;
  frames_.pop_back();
  publish();
  return true;
}

void LocalRefTable::popNativeCallFrame() {
  while (!frames_.empty()) {
    Frame frame = frames_.back();
    frames_.pop_back();
    top_ = frame.top;
    holes_ = frame.holes;
    if (frame.kind == FrameKind::kNativeCall) break;
  }
  publish();
}

bool LocalRefTable::hasRoomFor(std::size_t count) const { return top_ + count <= capacity_; }

std::size_t LocalRefTable::liveCount() const { return top_ - holes_; }

void LocalRefTable::forEachLive(const std::function<void(Object*)>& visit) const {
  for (std::uint32_t i = 0; i < top_; ++i) {
    if (slots_[i].object != nullptr) visit(slots_[i].object);
  }
}

// --- GlobalRefTable ----------------------------------------------------------

GlobalRefTable::GlobalRefTable(int sdkInt, RefKind kind, std::uint32_t capacity)
    : sdkInt_(sdkInt), kind_(kind), capacity_(capacity) {}

jobject GlobalRefTable::add(Object* object) {
  std::uint32_t slot;
  if (!free_.empty()) {
    slot = free_.back();
    free_.pop_back();
  } else {
    if (slots_.size() >= capacity_) return nullptr;
    slot = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  Slot& s = slots_[slot];
  s.object = object;
  s.used = true;
  s.serial = (s.serial + 1) & kSerialMask;
  ++count_;
  return encodeRef(sdkInt_, slot, s.serial, kind_);
}

bool GlobalRefTable::slotOf(jobject ref, std::uint32_t* slot) const {
  if (refKindOf(ref) != kind_) return false;
  *slot = slotOfRef(sdkInt_, ref);
  return *slot < slots_.size() && slots_[*slot].used && serialMatches(sdkInt_, ref, slots_[*slot].serial, kind_);
}

bool GlobalRefTable::get(jobject ref, Object** object) const {
  std::uint32_t slot;
  if (!slotOf(ref, &slot)) return false;
  *object = slots_[slot].object;
  return true;
}

bool GlobalRefTable::remove(jobject ref) {
  std::uint32_t slot;
  if (!slotOf(ref, &slot)) return false;
  slots_[slot].used = false;
  slots_[slot].object = nullptr;
  free_.push_back(slot);
  --count_;
  return true;
}

void GlobalRefTable::forEachLive(const std::function<void(Object*)>& visit) const {
  for (const Slot& s : slots_) {
    if (s.used && s.object != nullptr) visit(s.object);
  }
}

void GlobalRefTable::clearUnmarked() {
  for (Slot& s : slots_) {
    if (s.used && s.object != nullptr && !s.object->marked) s.object = nullptr;
  }
}

}  // namespace testvm
