// SQLite can load extensions from shared libraries; the tools never ask it to,
// and they are linked statically, without a dynamic loader. Linked with
// --wrap=dlopen, SQLite's one call of dlopen lands here and is refused, so no
// part of the loader is linked in.
extern "C" void* __wrap_dlopen(const char*, int) { return nullptr; }
