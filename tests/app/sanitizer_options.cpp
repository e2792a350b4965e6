// Leak checking in the desktop tests: the window system's libraries (fontconfig, the X client
// libraries, GLib, D-Bus) and PortAudio's ALSA plug-ins keep allocations for the life of the
// process that are not ours.  The slow unwinder is needed to see those libraries in the stacks.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libasound.so\n"
           "leak:libfontconfig.so\n"
           "leak:libX11.so\n"
           "leak:libxcb\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libdbus-1.so\n"
           "leak:libQt6DBus.so\n"
           "leak:libQt6XcbQpa.so\n";
}
