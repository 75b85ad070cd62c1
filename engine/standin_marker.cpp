// Tells this library apart from the maker's: the install step looks for this
// text in a file before it replaces it, so that it never overwrites a maker's
// library installed at the same path. Exported, so that it can also be found
// with dlsym or nm.
extern "C" __attribute__((visibility("default"), used)) const char ZeruStandInEngine[] = ZERU_STANDIN_MARKER;
