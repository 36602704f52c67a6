#include "core/BaseTracker.h"

#include <utility>

#include "core/NativeMonitor.h"

BaseTracker::BaseTracker(std::string name, NativeMonitor* monitor)
    : monitor(monitor), name(std::move(name)) {}

void BaseTracker::onInit() {
  const std::vector<std::string> topics = topicToSubscribe();
  for (const std::string& topic : topics) {
    monitor->subscribeTopic(topic, this);
  }
}
