// The host classes of a VM, built from its options: the app's monitor, probe,
// reporter and thread callback classes, and the runtime classes the monitor
// binds to. Their Java methods record what they receive in the VM's Recorder.
#pragma once

#include <vector>

#include "VmImpl.h"

namespace testvm {

std::vector<ClassDef> hostClassDefs(TestVm::Impl& vm);

}  // namespace testvm
