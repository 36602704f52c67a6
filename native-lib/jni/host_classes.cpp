#include "jni/host_classes.h"

const char* classJniOffsetPathName = "com/trivane/corvalis/nativememorymonitor/library/ClassToFindJniOffset";
const char* classMonitorPathName = "com/trivane/corvalis/nativememorymonitor/library/NativeMemoryMonitor";
const char* classThreadOnCreatedCallBack = "com/trivane/corvalis/app/JobReporter";
