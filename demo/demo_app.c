// The demo's stand-in for an app's own native library, loaded through the
// runtime after the monitor has started.
int demo_app_answer(void) { return 42; }
