// Pending exceptions: what lookups raise, what may be called with one pending,
// and how they reach the caller of a Java method.
#include <gtest/gtest.h>

#include "testvm/TestVm.h"

namespace {

using testvm::ClassDef;
using testvm::FieldDef;
using testvm::MethodDef;
using testvm::TestVm;
using testvm::VmError;
using testvm::VmOptions;

class Exceptions : public testing::Test {
 protected:
  static VmOptions options() {
    VmOptions o;
    ClassDef cls{"com/example/Thrower", "java/lang/Object", {FieldDef{"count", "I", true, {}}}, {}};
    cls.methods.push_back(MethodDef{"fail", "()V", true, false,
                                    [](JNIEnv* env, jobject, const jvalue*) {
                                      env->ThrowNew(env->FindClass("java/lang/IllegalArgumentException"), "bad");
                                      return jvalue{};
                                    },
                                    nullptr});
    cls.methods.push_back(MethodDef{"run", "()V", false, false, {}, nullptr});
    o.extraClasses.push_back(cls);
    return o;
  }
  void expectPending(const char* cls) {
    EXPECT_TRUE(env->ExceptionCheck());
    EXPECT_EQ(vm.pendingExceptionClass(env), cls);
    env->ExceptionClear();
  }
  TestVm vm{options()};
  JNIEnv* env = vm.env();
};

TEST_F(Exceptions, FailedLookupsLeaveTheRuntimesExceptionPending) {
  EXPECT_EQ(env->FindClass("com/example/Missing"), nullptr);
  expectPending("java/lang/NoClassDefFoundError");
  jclass cls = env->FindClass("com/example/Thrower");
  ASSERT_NE(cls, nullptr);
  EXPECT_EQ(env->GetStaticMethodID(cls, "missing", "()V"), nullptr);
  expectPending("java/lang/NoSuchMethodError");
  EXPECT_EQ(env->GetMethodID(cls, "fail", "()V"), nullptr);  // static, asked as instance
  expectPending("java/lang/NoSuchMethodError");
  EXPECT_EQ(env->GetStaticMethodID(cls, "run", "()V"), nullptr);  // instance, asked as static
  expectPending("java/lang/NoSuchMethodError");
  EXPECT_EQ(env->GetStaticFieldID(cls, "count", "J"), nullptr);  // wrong type
  expectPending("java/lang/NoSuchFieldError");
  EXPECT_EQ(env->GetFieldID(cls, "count", "I"), nullptr);  // static, asked as instance
  expectPending("java/lang/NoSuchFieldError");
  EXPECT_NE(env->GetStaticFieldID(cls, "count", "I"), nullptr);
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_TRUE(vm.errors().empty());
}

TEST_F(Exceptions, ExceptionOccurredDescribeAndClear) {
  jclass linkageError = env->FindClass("java/lang/LinkageError");
  env->FindClass("com/example/Missing");
  jthrowable t = env->ExceptionOccurred();
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(env->ExceptionCheck());  // ExceptionOccurred does not clear
  env->ExceptionDescribe();
  EXPECT_TRUE(env->IsInstanceOf(t, linkageError));
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(vm.describedExceptions(), std::vector<std::string>{"java/lang/NoClassDefFoundError"});
  EXPECT_TRUE(vm.errors().empty());  // all four are allowed with an exception pending
}

TEST_F(Exceptions, ThrowNewAndThrowSetThePendingException) {
  jclass iae = env->FindClass("java/lang/IllegalArgumentException");
  EXPECT_EQ(env->ThrowNew(iae, "wrong"), JNI_OK);
  EXPECT_EQ(vm.pendingExceptionMessage(env), "wrong");
  jthrowable t = env->ExceptionOccurred();
  env->ExceptionClear();
  EXPECT_EQ(env->Throw(t), JNI_OK);
  EXPECT_TRUE(env->IsSameObject(env->ExceptionOccurred(), t));
  expectPending("java/lang/IllegalArgumentException");
}

TEST_F(Exceptions, HostMethodExceptionReachesTheCaller) {
  jclass cls = env->FindClass("com/example/Thrower");
  env->CallStaticVoidMethod(cls, env->GetStaticMethodID(cls, "fail", "()V"));
  EXPECT_EQ(vm.pendingExceptionMessage(env), "bad");
  expectPending("java/lang/IllegalArgumentException");
}

TEST_F(Exceptions, CallsWithAnExceptionPendingAreRecorded) {
  env->FindClass("com/example/Missing");
  jstring s = env->NewStringUTF("still made");
  EXPECT_NE(s, nullptr);
  env->DeleteLocalRef(s);  // allowed
  std::vector<VmError> errors = vm.errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].kind, VmError::kPendingException);
  EXPECT_EQ(errors[0].entry, "NewStringUTF");
  EXPECT_NE(errors[0].detail.find("java.lang.NoClassDefFoundError"), std::string::npos);
}

TEST_F(Exceptions, NullArgumentsAndZeroIdsAreRecordedNotFollowed) {
  jclass cls = env->FindClass("com/example/Thrower");
  EXPECT_EQ(env->GetIntField(nullptr, nullptr), 0);
  env->CallStaticVoidMethod(cls, nullptr);
  EXPECT_EQ(env->GetObjectClass(nullptr), nullptr);
  std::vector<VmError> errors = vm.errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].kind, VmError::kInvalidId);
  EXPECT_EQ(errors[0].entry, "GetIntField");
  EXPECT_EQ(errors[1].kind, VmError::kInvalidId);
  EXPECT_EQ(errors[1].entry, "CallStaticVoidMethodV");  // where jni.h's C++ wrapper goes
  EXPECT_EQ(errors[2].kind, VmError::kNullArgument);
  EXPECT_FALSE(env->ExceptionCheck());
}

}  // namespace
