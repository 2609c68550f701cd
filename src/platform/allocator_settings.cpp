// Settings the programs' allocator (jemalloc) reads at start-up. Blocks of a megabyte or more
// (whole documents under analysis, the copies analysis makes of them) come from an arena of
// their own that gives memory back as soon as they are freed: otherwise each analysis
// thread's arena keeps the last large document's pages, and the peak memory grows with the
// number of threads. A MALLOC_CONF in the environment still overrides this.
extern "C" {
extern const char* malloc_conf;
const char* malloc_conf = "oversize_threshold:1048576";
}
