// Names of the host classes the library binds its natives and callbacks to.
#pragma once

extern const char* classJniOffsetPathName;
extern const char* classMonitorPathName;
// The class whose static "onThreadCreatedCallback" hears of new Java threads.
// nativeThreadCreateHookInit may point it at another name (never freed); the
// thread tracking reads it when it resolves the callback class for the first time.
extern const char* classThreadOnCreatedCallBack;
