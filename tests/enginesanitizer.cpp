// Sanitizer settings for the test programs that run the browser engine. The
// engine's prebuilt library frees some objects through a base without a
// virtual destructor and keeps a few allocations to the end of the process;
// both are its own and not ours to mend. The sanitizer runtime reads these
// hooks at start-up; options given in the environment still win.
extern "C" const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libfontconfig.so\n";
}
