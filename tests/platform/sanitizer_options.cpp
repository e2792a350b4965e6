// Leak checking in this program: ALSA's plug-ins (loaded and unloaded by PortAudio while it
// probes devices) keep allocations that are not ours.  The slow unwinder is needed to see the
// library in their stacks.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libasound.so\n"; }
