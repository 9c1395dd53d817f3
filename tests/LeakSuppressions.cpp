// Leak reports the sanitizer build must not count against the toolkit: fontconfig keeps
// its configuration and the patterns of resolved fonts for the life of the process, and
// a library inside a host must not tear that down (the host may use fontconfig too).
// Only stacks that pass through fontconfig itself are excused; a cairo surface or
// context that the toolkit forgets to release is still reported.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
