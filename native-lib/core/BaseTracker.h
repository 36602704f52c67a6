// Base of every subscriber of the topic bus.
//
// The NativeMonitor side owns each tracker through a shared pointer made from
// the concrete class (the base has no virtual destructor) and calls onInit() once
// the tree's root exists; onInit then calls, once per topic of topicToSubscribe(),
//   void NativeMonitor::subscribeTopic(std::string topic, BaseTracker* tracker);
// (see topic_bus.h for its one-line body).
#pragma once

#include <string>
#include <vector>

class NativeMonitor;
struct _FunctionParam;

class BaseTracker {
 public:
  BaseTracker(std::string name, NativeMonitor* monitor);

  // Subscribes this tracker to each topic of topicToSubscribe(), in order. A
  // topic the bus refuses (not beginning with "/") is silently skipped.
  virtual void onInit();
  // Called on the publishing thread, once per subscription of this tracker on
  // the message's path, while the bus is read-held: it must neither subscribe
  // nor publish, and guards its own state. `topic` is the full topic.
  virtual void onMessage(std::string topic, _FunctionParam& param) = 0;
  // "/"-separated paths beginning with "/".
  virtual std::vector<std::string> topicToSubscribe() = 0;

 protected:
  // Not virtual: owners delete trackers through their concrete class.
  ~BaseTracker() = default;

  NativeMonitor* monitor;
  std::string name;
};
