// Base of every hooker, and the message that describes one intercepted call.
//
// The NativeMonitor side drives a hooker's life cycle: at start-up
// beforeHook(1, env) on every hooker, then onInit(1, env) on every hooker; around
// each library load beforeSoLoad(path) / afterSoLoad(path); on the host's
// request dump(env). It owns each hooker through a shared pointer made from the
// concrete class (the base has no virtual destructor), and it must provide
//   void NativeMonitor::talkOnTopic(BaseHooker* hooker, std::string topic, _FunctionParam& param);
// which talkMessage calls (see topic_bus.h for its one-line body).
#pragma once

#include <jni.h>

#include <string>
#include <vector>

class NativeMonitor;

// One intercepted call as published on the topic bus. Lives on the publisher's
// stack for one publication; the pointers are borrowed, and subscribers must not
// keep the message or anything it points to after onMessage returns.
struct _FunctionParam {
  void* result = nullptr;           // null in a "before" message
  int paramCount = 0;               // as the publisher passed it, even if negative
  std::vector<void*> paramPtrList;  // one pointer per argument, in argument order
  void* funcAddr = nullptr;         // the function the replacement stands in for
};

class BaseHooker {
 public:
  BaseHooker(std::string name, NativeMonitor* monitor);

  // Life cycle. onInit and beforeHook take `count` followed by that many
  // arguments; the monitor passes 1 and the starting thread's JNIEnv*.
  virtual void onInit(int count, ...) = 0;
  virtual void beforeSoLoad(std::string libPath);
  virtual void afterSoLoad(std::string libPath);
  // The first segment of this hooker's topics; its name unless overridden.
  virtual std::string getTalkTopicNamespace();
  virtual void beforeHook(int count, ...);
  virtual void dump(JNIEnv* env);

  // Publishes `param` under the local `topic` (prefixed with the namespace by
  // the bus) and returns once every subscriber has handled it.
  void talkMessage(std::string topic, _FunctionParam& param);
  // Publish one call on funcName/before and funcName/after; `count` is followed
  // by exactly that many argument pointers, each passed as a void*.
  void talkBeforeOriginFuncCalled(std::string funcName, void* funcAddr, int count, ...);
  void talkAfterOriginFuncCalled(std::string funcName, void* funcAddr, void* result, int count,
                                 ...);

 protected:
  // Not virtual: owners delete hookers through their concrete class.
  ~BaseHooker() = default;

  std::string name;
  NativeMonitor* monitor;
};
