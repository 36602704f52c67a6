#include "ThreadState.h"

#include <atomic>

namespace testvm {

ThreadState::ThreadState(TestVm::Impl* owner, const JNINativeInterface_* functions, JavaVM* javaVm, int sdkInt,
                         bool isManaged)
    : env{functions, this, javaVm, 0, 0},
      vm(owner),
      managed(isManaged),
      locals(sdkInt, &env.segmentState, &env.localRefCookie) {}

ThreadId currentOsThreadId() {
  static std::atomic<ThreadId> next{1};
  thread_local ThreadId id = next.fetch_add(1);
  return id;
}

}  // namespace testvm
