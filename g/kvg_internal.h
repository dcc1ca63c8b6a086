// Start-up steps shared between the framework's own modules.
#pragma once

#include "g/kvg.h"

// The language services of the context (NLS_LANG); 0 or the failure number.
int kvg_start_language(kvg_context* context);
// The message catalogue of product "kv", facility "kvs"; 0 or the failure number.
int kvg_open_catalog(kvg_context* context);
