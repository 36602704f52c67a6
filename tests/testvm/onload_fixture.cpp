// A library with a JNI_OnLoad that tells what it saw: the VM it got, and
// whether it could find an app class from inside JNI_OnLoad.
#include <jni.h>

extern "C" {

JavaVM* testvm_fixture_vm = nullptr;
int testvm_fixture_found_app_class = 0;
jint testvm_fixture_result = JNI_VERSION_1_6;

JNIEXPORT jint JNI_OnLoad(JavaVM* vm, void* reserved) {
  testvm_fixture_vm = vm;
  JNIEnv* env = nullptr;
  if (reserved != nullptr || vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) return JNI_ERR;
  jclass probe = env->FindClass("com/trivane/corvalis/nativememorymonitor/library/ClassToFindJniOffset");
  testvm_fixture_found_app_class = probe != nullptr;
  env->ExceptionClear();
  return testvm_fixture_result;
}
}
