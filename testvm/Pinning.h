// Pointers into string and array storage handed out to native code, counted
// until released.
#pragma once

#include <jni.h>

#include "JniScope.h"

namespace testvm {

// Counts one more pin of `storage`, which belongs to `object`.
void pin(JniScope& s, Object* object, const void* storage);
// Releases a pin with JNI release `mode` (0, JNI_COMMIT or JNI_ABORT); a
// release that matches no pin of `object` is recorded as misuse.
void unpin(JniScope& s, Object* object, const void* storage, jint mode);

}  // namespace testvm
