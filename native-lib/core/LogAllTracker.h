// The tracker that listens to everything: subscribed at the root topic "/", it
// is handed every message of every hooker once. Created by NativeMonitor when
// FLAG_LOG_ALL is on (std::shared_ptr<LogAllTracker>(new LogAllTracker(this)))
// and subscribed by its inherited onInit().
#pragma once

#include <string>
#include <vector>

#include "core/BaseTracker.h"

class LogAllTracker final : public BaseTracker {
 public:
  explicit LogAllTracker(NativeMonitor* monitor);

  void onMessage(std::string topic, _FunctionParam& param) override;
  std::vector<std::string> topicToSubscribe() override;
};
