#include "Pinning.h"

namespace testvm {

void pin(JniScope& s, Object* object, const void* storage) {
  auto it = s.vm.pins.find(storage);
  if (it == s.vm.pins.end()) {
    s.vm.pins.emplace(storage, Pin{object, 1});
  } else {
    ++it->second.count;
  }
}

void unpin(JniScope& s, Object* object, const void* storage, jint mode) {
  if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT) {
    s.misuse(VmError::kBadRelease, "unknown release mode " + std::to_string(mode));
    return;
  }
  auto it = s.vm.pins.find(storage);
  if (it == s.vm.pins.end() || (object != nullptr && it->second.object != object)) {
    s.misuse(VmError::kBadRelease, "release of storage that this object did not hand out");
    return;
  }
  // The storage is the object's own (never a copy), so there is nothing to
  // copy back; JNI_COMMIT keeps the pin.
  if (mode == JNI_COMMIT) return;
  if (--it->second.count == 0) s.vm.pins.erase(it);
}

}  // namespace testvm
