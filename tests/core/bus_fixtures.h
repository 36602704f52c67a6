// A hooker and a tracker for exercising the topic bus without the monitor.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "actor.h"
#include "core/BaseHooker.h"
#include "core/BaseTracker.h"

// One onMessage call as a tracker saw it: the message's address and a copy of
// its contents, taken while it was valid.
struct Delivery {
  std::string tracker;
  std::string topic;
  const _FunctionParam* param;
  _FunctionParam message;
};

class TestHooker final : public BaseHooker {
 public:
  explicit TestHooker(std::string name, NativeMonitor* monitor = nullptr)
      : BaseHooker(std::move(name), monitor) {}
  void onInit(int, ...) override {}
};

// Records every message it is handed into a list shared by several trackers,
// so that a test sees the order in which the bus visited them.
class RecordingTracker final : public BaseTracker {
 public:
  RecordingTracker(std::string name, std::vector<Delivery>& deliveries,
                   std::vector<std::string> topics = {}, NativeMonitor* monitor = nullptr)
      : BaseTracker(std::move(name), monitor), deliveries(deliveries), topics(std::move(topics)) {}

  void onMessage(std::string topic, _FunctionParam& param) override {
    deliveries.push_back({name, std::move(topic), &param, param});
  }
  std::vector<std::string> topicToSubscribe() override { return topics; }

 private:
  std::vector<Delivery>& deliveries;
  std::vector<std::string> topics;
};
