// A library without JNI_OnLoad.
extern "C" int testvm_plain_fixture_answer() { return 42; }
