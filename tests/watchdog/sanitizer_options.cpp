// Sanitizer builds: fontconfig keeps its caches until exit on purpose, and Qt's
// offscreen platform (used without a display) never frees its screen; neither is
// ours to report.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libqoffscreen.so\n"; }
#endif
