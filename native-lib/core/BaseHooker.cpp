#include "core/BaseHooker.h"

#include <cstdarg>
#include <utility>

#include "core/NativeMonitor.h"

namespace {

_FunctionParam callMessage(void* funcAddr, void* result, int count, va_list args) {
  _FunctionParam param;
  param.result = result;
  param.paramCount = count;
  for (int i = 0; i < count; ++i) {
    param.paramPtrList.push_back(va_arg(args, void*));
  }
  param.funcAddr = funcAddr;
  return param;
}

}  // namespace

BaseHooker::BaseHooker(std::string name, NativeMonitor* monitor)
    : name(std::move(name)), monitor(monitor) {}

void BaseHooker::beforeSoLoad(std::string) {}

void BaseHooker::afterSoLoad(std::string) {}

std::string BaseHooker::getTalkTopicNamespace() { return name; }

void BaseHooker::beforeHook(int, ...) {}

void BaseHooker::dump(JNIEnv*) {}

void BaseHooker::talkMessage(std::string topic, _FunctionParam& param) {
  monitor->talkOnTopic(this, std::move(topic), param);
}

void BaseHooker::talkBeforeOriginFuncCalled(std::string funcName, void* funcAddr, int count, ...) {
  va_list args;
  va_start(args, count);
  _FunctionParam param = callMessage(funcAddr, nullptr, count, args);
  va_end(args);
  talkMessage(funcName + "/before", param);
}

void BaseHooker::talkAfterOriginFuncCalled(std::string funcName, void* funcAddr, void* result,
                                           int count, ...) {
  va_list args;
  va_start(args, count);
  _FunctionParam param = callMessage(funcAddr, result, count, args);
  va_end(args);
  talkMessage(funcName + "/after", param);
}
