#include "core/LogAllTracker.h"

LogAllTracker::LogAllTracker(NativeMonitor* monitor) : BaseTracker("LogAllTracker", monitor) {}

void LogAllTracker::onMessage(std::string, _FunctionParam&) {}

std::vector<std::string> LogAllTracker::topicToSubscribe() { return {"/"}; }
