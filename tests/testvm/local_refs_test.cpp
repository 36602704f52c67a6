// Local references as ART encodes them per SDK level, the segment state word
// in the env, and the frames that make the top index drop.
#include <gtest/gtest.h>

#include <cstdint>

#include "testvm/TestVm.h"

namespace {

using testvm::ClassDef;
using testvm::MethodDef;
using testvm::TestVm;
using testvm::VmOptions;

std::uintptr_t valueOf(jobject ref) { return reinterpret_cast<std::uintptr_t>(ref); }

struct EncodingCase {
  int sdk;
  std::uint32_t slot;
  std::uint32_t serial;
  std::uintptr_t value;
};

void PrintTo(const EncodingCase& c, std::ostream* os) {
  *os << "sdk " << c.sdk << " slot " << c.slot << " serial " << c.serial;
}

class LocalRefEncoding : public testing::TestWithParam<EncodingCase> {};

TEST_P(LocalRefEncoding, EncodesSlotAsTheRuntimeOfThatLevel) {
  const EncodingCase& c = GetParam();
  EXPECT_EQ(valueOf(TestVm::encodeLocalRef(c.sdk, c.slot, c.serial)), c.value);
}

INSTANTIATE_TEST_SUITE_P(PerSdk, LocalRefEncoding,
                         testing::Values(EncodingCase{28, 19, 0, (19u << 4) | 1},
                                         EncodingCase{26, 19, 3, (19u << 4) | 1},  // no serial above 25
                                         EncodingCase{26, 0, 0, 1},
                                         EncodingCase{25, 77, 0, (77u << 2) | 1},
                                         EncodingCase{25, 77, 1, (1u << 20) | (77u << 2) | 1},
                                         EncodingCase{23, 511, 4095, (4095u << 20) | (511u << 2) | 1}));

// Everything below runs once per SDK level on either side of the layout change.
class LocalRefs : public testing::TestWithParam<int> {
 protected:
  static VmOptions options() {
    VmOptions o;
    o.sdkInt = GetParam();
    o.extraClasses.push_back(ClassDef{"com/example/Natives", "java/lang/Object", {},
                                      {MethodDef{"make", "(I)I", true, true, {}, nullptr}}});
    return o;
  }
  int sdk() const { return GetParam(); }
  // The top index as a reader of the segment state word computes it.
  std::uint32_t topFromWord(JNIEnv* env) const {
    std::uint32_t word = TestVm::segmentState(env);
    return sdk() > 25 ? word : word & 0xFFFF;
  }
  TestVm vm{options()};
  JNIEnv* env = vm.env();
};

TEST_P(LocalRefs, NewReferencesTakeTheNextSlotsInTheirEncoding) {
  std::uint32_t top = vm.topIndex(env);
  for (std::uint32_t i = 0; i < 3; ++i) {
    jobject ref = env->NewStringUTF("x");
    // Fresh slots carry serial 1 where serials are encoded.
    EXPECT_EQ(ref, TestVm::encodeLocalRef(sdk(), top + i, 1));
    EXPECT_EQ(vm.topIndex(env), top + i + 1);
    EXPECT_EQ(topFromWord(env), top + i + 1);
  }
}

TEST_P(LocalRefs, DeletingBelowTheTopLeavesAHoleThatIsReusedFirst) {
  std::uint32_t top = vm.topIndex(env);
  jobject a = env->NewStringUTF("a");
  jobject b = env->NewStringUTF("b");
  jobject c = env->NewStringUTF("c");
  env->DeleteLocalRef(b);
  EXPECT_EQ(vm.topIndex(env), top + 3);
  EXPECT_EQ(vm.localRefCount(env), top + 2);
  // Before Oreo the word's high half counts the holes.
  EXPECT_EQ(TestVm::segmentState(env), sdk() > 25 ? top + 3 : (1u << 16) | (top + 3));
  jobject d = env->NewStringUTF("d");
  EXPECT_EQ(TestVm::encodeLocalRef(sdk(), top + 1, 2), d);  // slot of b, second use
  EXPECT_EQ(vm.topIndex(env), top + 3);
  env->DeleteLocalRef(c);
  EXPECT_EQ(vm.topIndex(env), top + 2);
  env->DeleteLocalRef(d);
  env->DeleteLocalRef(a);
  EXPECT_EQ(vm.topIndex(env), top);
  EXPECT_EQ(TestVm::segmentState(env), top);
  EXPECT_TRUE(vm.errors().empty());
}

TEST_P(LocalRefs, StaleReferenceIsRejectedWhereSerialsAreEncoded) {
  jobject a = env->NewStringUTF("a");
  env->DeleteLocalRef(a);
  jobject b = env->NewStringUTF("b");
  ASSERT_EQ(TestVm::encodeLocalRef(sdk(), 0, 0) == TestVm::encodeLocalRef(sdk(), 0, 1), sdk() > 25);
  if (sdk() > 25) {
    EXPECT_EQ(a, b);  // same slot, same value: the runtime cannot tell them apart
  } else {
    EXPECT_NE(a, b);
    EXPECT_EQ(env->GetObjectRefType(a), JNIInvalidRefType);
    ASSERT_EQ(vm.errors().size(), 1u);
    EXPECT_EQ(vm.errors()[0].kind, testvm::VmError::kInvalidReference);
  }
}

// The native method of these tests: creates `count` local references and
// reports the top index it saw on the way.
std::uint32_t g_topInside;
TestVm* g_vm;
jint JNICALL makeRefs(JNIEnv* env, jclass, jint count) {
  for (jint i = 0; i < count; ++i) env->NewStringUTF("ref");
  g_topInside = g_vm->topIndex(env);
  return static_cast<jint>(TestVm::segmentState(env));
}

TEST_P(LocalRefs, TopIndexDropsWhenANativeMethodReturns) {
  g_vm = &vm;
  jclass natives = env->FindClass("com/example/Natives");
  JNINativeMethod method{const_cast<char*>("make"), const_cast<char*>("(I)I"), reinterpret_cast<void*>(&makeRefs)};
  ASSERT_EQ(env->RegisterNatives(natives, &method, 1), JNI_OK);
  std::uint32_t before = vm.topIndex(env);

  jint wordInside = vm.callStatic<jint>(env, "com/example/Natives", "make", "(I)I", 5);
  EXPECT_EQ(g_topInside, before + 5);
  EXPECT_EQ(static_cast<std::uint32_t>(wordInside), before + 5);
  EXPECT_EQ(vm.topIndex(env), before);
  EXPECT_EQ(topFromWord(env), before);

  // Through the JNI call entries as well.
  jmethodID make = env->GetStaticMethodID(natives, "make", "(I)I");
  env->CallStaticIntMethod(natives, make, 7);
  EXPECT_EQ(g_topInside, before + 7);
  EXPECT_EQ(vm.topIndex(env), before);
}

TEST_P(LocalRefs, PopLocalFrameKeepsOnlyTheResultInTheOuterFrame) {
  std::uint32_t before = vm.topIndex(env);
  ASSERT_EQ(env->PushLocalFrame(4), JNI_OK);
  env->NewStringUTF("dropped");
  jstring kept = env->NewStringUTF("kept");
  env->NewStringUTF("dropped");
  EXPECT_EQ(vm.topIndex(env), before + 3);
  jobject result = env->PopLocalFrame(kept);
  EXPECT_EQ(vm.topIndex(env), before + 1);
  EXPECT_EQ(vm.stringValue(env, static_cast<jstring>(result)), "kept");
  EXPECT_EQ(env->PopLocalFrame(nullptr), nullptr);  // no frame left to pop
  ASSERT_EQ(vm.errors().size(), 1u);
  EXPECT_EQ(vm.errors()[0].kind, testvm::VmError::kBadRelease);
}

TEST_P(LocalRefs, TableOverflowIsRecordedAndAnswersNull) {
  std::uint32_t capacity = sdk() > 25 ? 65536 : 512;
  EXPECT_EQ(env->EnsureLocalCapacity(static_cast<jint>(capacity)), JNI_OK);
  EXPECT_EQ(env->EnsureLocalCapacity(static_cast<jint>(capacity + 1)), JNI_ERR);
  EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/OutOfMemoryError");
  env->ExceptionClear();
  jstring s = env->NewStringUTF("s");
  for (std::uint32_t i = vm.topIndex(env); i < capacity; ++i) env->NewLocalRef(s);
  EXPECT_EQ(env->NewLocalRef(s), nullptr);
  ASSERT_EQ(vm.errors().size(), 1u);
  EXPECT_EQ(vm.errors()[0].kind, testvm::VmError::kTableOverflow);
}

INSTANTIATE_TEST_SUITE_P(Sdk, LocalRefs, testing::Values(23, 25, 26, 28));

}  // namespace
