// Sanitizer builds: fontconfig's caches and Qt's offscreen screen live until exit on
// purpose; neither is ours to report.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libqoffscreen.so\n";
}
#endif
