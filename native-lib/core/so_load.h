// Interception of the runtime's native library loader: every library loaded
// after start-up passes through hookedRuntimeNativeLoad, which announces
// whitelisted libraries to the hookers before and after the runtime loads them.
#pragma once

#include <jni.h>

#include <string>

// The native entry of java.lang.Runtime.nativeLoad(String, ClassLoader, String).
using NativeLoadFunction = jstring (*)(JNIEnv* env, jclass cls, jstring fileName, jobject classLoader,
                                       jstring librarySearchPath);

// The runtime's own entry, saved when the replacement is installed.
extern NativeLoadFunction originNativeLoad;

// The replacement entry; returns exactly what the runtime's entry returns.
jstring hookedRuntimeNativeLoad(JNIEnv* env, jclass cls, jstring fileName, jobject classLoader,
                                jstring librarySearchPath);

// True when `text` begins with every character of `prefix`.
bool startsWith(const char* text, const char* prefix);

// The path under which a library loaded from `path` is mapped in the process.
// The loader may be given the per-user view /data/user/0/<package>/..., while
// the memory map names the library by its real location: the app's native
// library directory for its lib folder, /data/data for everything else.
std::string mappedLibraryPath(const std::string& path, const std::string& packageName,
                              const std::string& nativeLibDir);
