// Objects and their storage: collection and weak references, pinning, and the
// modified UTF-8 check of NewStringUTF.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testvm/TestVm.h"

namespace {

using testvm::ClassDef;
using testvm::FieldDef;
using testvm::TestVm;
using testvm::VmError;
using testvm::VmOptions;

class Heap : public testing::Test {
 protected:
  TestVm vm;
  JNIEnv* env = vm.env();
};

TEST_F(Heap, CollectedReferentMakesWeakReferencesEqualNull) {
  jstring dropped = env->NewStringUTF("dropped");
  jstring held = env->NewStringUTF("held");
  jweak weakDropped = env->NewWeakGlobalRef(dropped);
  jweak weakHeld = env->NewWeakGlobalRef(held);
  jobject global = env->NewGlobalRef(held);
  env->DeleteLocalRef(dropped);
  env->DeleteLocalRef(held);
  EXPECT_FALSE(env->IsSameObject(weakDropped, nullptr));

  vm.collectGarbage();
  EXPECT_TRUE(env->IsSameObject(weakDropped, nullptr));
  EXPECT_EQ(env->NewLocalRef(weakDropped), nullptr);
  EXPECT_EQ(env->GetObjectRefType(weakDropped), JNIWeakGlobalRefType);  // still a valid weak reference
  EXPECT_FALSE(env->IsSameObject(weakHeld, nullptr));
  EXPECT_TRUE(env->IsSameObject(weakHeld, global));
  EXPECT_EQ(vm.weakGlobalRefCount(), 2u);
  env->DeleteWeakGlobalRef(weakDropped);
  env->DeleteWeakGlobalRef(weakHeld);
  env->DeleteGlobalRef(global);
  EXPECT_EQ(vm.weakGlobalRefCount(), 0u);
  EXPECT_EQ(vm.globalRefCount(), 0u);
  EXPECT_TRUE(vm.errors().empty());
}

TEST(HeapRoots, StaticFieldsAndArrayElementsKeepObjectsAlive) {
  VmOptions options;
  options.extraClasses.push_back(
      ClassDef{"com/example/Holder", "java/lang/Object", {FieldDef{"kept", "Ljava/lang/Object;", true, {}}}, {}});
  TestVm vm(options);
  JNIEnv* env = vm.env();
  jclass holder = env->FindClass("com/example/Holder");
  jstring inField = env->NewStringUTF("in field");
  jobjectArray array = env->NewObjectArray(1, env->FindClass("java/lang/String"), nullptr);
  jstring inArray = env->NewStringUTF("in array");
  env->SetStaticObjectField(holder, env->GetStaticFieldID(holder, "kept", "Ljava/lang/Object;"), inField);
  env->SetObjectArrayElement(array, 0, inArray);
  jweak weakField = env->NewWeakGlobalRef(inField);
  jweak weakArray = env->NewWeakGlobalRef(inArray);
  env->DeleteLocalRef(inField);
  env->DeleteLocalRef(inArray);
  vm.collectGarbage();
  EXPECT_FALSE(env->IsSameObject(weakField, nullptr));
  EXPECT_FALSE(env->IsSameObject(weakArray, nullptr));
  env->DeleteLocalRef(array);
  vm.collectGarbage();
  EXPECT_TRUE(env->IsSameObject(weakArray, nullptr));
  EXPECT_FALSE(env->IsSameObject(weakField, nullptr));
}

TEST_F(Heap, ArrayElementsAreTheStorageItselfUntilReleased) {
  jintArray array = env->NewIntArray(4);
  jboolean isCopy = JNI_TRUE;
  jint* elements = env->GetIntArrayElements(array, &isCopy);
  EXPECT_EQ(isCopy, JNI_FALSE);
  elements[2] = 7;
  jint region[4];
  env->GetIntArrayRegion(array, 0, 4, region);
  EXPECT_EQ(region[2], 7);
  EXPECT_EQ(env->GetIntArrayElements(array, nullptr), elements);  // same storage, second pin
  EXPECT_EQ(vm.pendingPins(), 2u);

  env->ReleaseIntArrayElements(array, elements, JNI_COMMIT);  // keeps the pin
  EXPECT_EQ(vm.pendingPins(), 2u);
  env->ReleaseIntArrayElements(array, elements, 0);
  EXPECT_EQ(vm.pendingPins(), 1u);
  env->ReleaseIntArrayElements(array, elements, JNI_ABORT);
  EXPECT_EQ(vm.pendingPins(), 0u);
  EXPECT_TRUE(vm.errors().empty());

  env->ReleaseIntArrayElements(array, elements, 0);  // nothing pinned any more
  ASSERT_EQ(vm.errors().size(), 1u);
  EXPECT_EQ(vm.errors()[0].kind, VmError::kBadRelease);
}

TEST_F(Heap, EveryPinningEntryIsCountedUntilItsRelease) {
  jbyteArray bytes = env->NewByteArray(3);
  jstring string = env->NewStringUTF("pinned");
  void* critical = env->GetPrimitiveArrayCritical(bytes, nullptr);
  jbyte* elements = env->GetByteArrayElements(bytes, nullptr);
  const jchar* chars = env->GetStringChars(string, nullptr);
  const jchar* criticalChars = env->GetStringCritical(string, nullptr);
  EXPECT_EQ(critical, elements);
  EXPECT_EQ(chars, criticalChars);
  EXPECT_EQ(chars[0], u'p');
  EXPECT_EQ(vm.pendingPins(), 4u);
  const char* utf = env->GetStringUTFChars(string, nullptr);  // a copy, not a pin
  EXPECT_STREQ(utf, "pinned");
  EXPECT_EQ(vm.pendingPins(), 4u);
  env->ReleaseStringUTFChars(string, utf);
  env->ReleasePrimitiveArrayCritical(bytes, critical, 0);
  env->ReleaseByteArrayElements(bytes, elements, JNI_ABORT);
  env->ReleaseStringChars(string, chars);
  env->ReleaseStringCritical(string, criticalChars);
  EXPECT_EQ(vm.pendingPins(), 0u);
  EXPECT_TRUE(vm.errors().empty());
}

TEST_F(Heap, RegionsOutOfBoundsThrow) {
  jintArray array = env->NewIntArray(2);
  jint buffer[3] = {};
  env->GetIntArrayRegion(array, 1, 2, buffer);
  EXPECT_EQ(vm.pendingExceptionMessage(env), "length=2; regionStart=1; regionLength=2");
  EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/ArrayIndexOutOfBoundsException");
  env->ExceptionClear();
  EXPECT_EQ(env->NewIntArray(-1), nullptr);
  EXPECT_EQ(vm.pendingExceptionClass(env), "java/lang/NegativeArraySizeException");
}

struct Utf8Case {
  const char* name;
  const char* bytes;
  bool valid;
};

void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }

class NewStringUtf : public testing::TestWithParam<Utf8Case> {};

TEST_P(NewStringUtf, InvalidModifiedUtf8IsRecordedWithItsBytes) {
  TestVm vm;
  JNIEnv* env = vm.env();
  jstring s = env->NewStringUTF(GetParam().bytes);
  ASSERT_NE(s, nullptr);
  std::vector<VmError> errors = vm.errors();
  if (GetParam().valid) {
    EXPECT_TRUE(errors.empty());
    const char* back = env->GetStringUTFChars(s, nullptr);
    EXPECT_STREQ(back, GetParam().bytes);
    env->ReleaseStringUTFChars(s, back);
  } else {
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].kind, VmError::kInvalidModifiedUtf8);
    EXPECT_EQ(errors[0].entry, "NewStringUTF");
    EXPECT_EQ(errors[0].bytes, GetParam().bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, NewStringUtf,
    testing::Values(Utf8Case{"Ascii", "plain text", true}, Utf8Case{"Empty", "", true},
                    Utf8Case{"TwoByte", "caf\xC3\xA9", true}, Utf8Case{"ThreeByte", "\xE2\x82\xAC", true},
                    Utf8Case{"EncodedNul", "a\xC0\x80z", true}, Utf8Case{"LoneSurrogate", "\xED\xA0\x80", true},
                    Utf8Case{"FourByte", "\xF0\x9F\x98\x80", false}, Utf8Case{"Continuation", "a\x80", false},
                    Utf8Case{"TruncatedTwo", "ab\xC3", false}, Utf8Case{"TruncatedThree", "\xE2\x82", false},
                    Utf8Case{"BadContinuation", "\xC3\x28", false}, Utf8Case{"Ff", "\xFF", false}),
    [](const testing::TestParamInfo<Utf8Case>& info) { return info.param.name; });

TEST_F(Heap, StringsKeepUtf16Inside) {
  const jchar units[] = {u'h', 0xE9, 0xD83D, 0xDE00};
  jstring s = env->NewString(units, 4);
  EXPECT_EQ(env->GetStringLength(s), 4);
  EXPECT_EQ(env->GetStringUTFLength(s), 1 + 2 + 3 + 3);
  EXPECT_EQ(vm.stringValue(env, s), "h\xC3\xA9\xF0\x9F\x98\x80");
  char region[8];
  env->GetStringUTFRegion(s, 0, 2, region);
  EXPECT_STREQ(region, "h\xC3\xA9");
}

}  // namespace
