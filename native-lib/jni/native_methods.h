// The native methods the host calls. Each converts its arguments and hands the
// work to the monitor or the thread tracking; the receiver is never used, so the
// host may declare them static or not.
#pragma once

#include <jni.h>

void nativeInit(JNIEnv* env, jobject thiz, jlong featureMask, jstring packageName, jstring nativeLibDir,
                jobjectArray soWhiteList, jlong timeLimited, jlong countLimited, jlong memoryLimited);
void nativeDump(JNIEnv* env, jobject thiz);
jint nativeGetJavaThreadPeakCount(JNIEnv* env, jobject thiz);
void nativeThreadHook(JNIEnv* env, jobject thiz);
void nativeThreadCreateHookInit(JNIEnv* env, jobject thiz, jstring className);

// Registered as the native entry of the probe method "mark", so that the method
// record of "mark" holds this function's address for the offset search.
void jniMethodToMark(JNIEnv* env, jobject thiz);
