// Sanitizer defaults linked into every fuzz target (ASAN_OPTIONS still overrides them).
//
// Freed blocks wait in a quarantine before they are handed out again, so that a use after the free
// still finds them poisoned. One input allocates well under a megabyte, so 16 MB holds every block
// an input frees and those of the inputs before it. With the default 256 MB, a run of a few thousand
// inputs (a CI run) never reuses a block: every allocation faults in fresh pages, which cost more
// than the readers themselves.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16";
}
