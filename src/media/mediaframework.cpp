// GStreamer start-up behind the media layer's own entry points.
#include "media/mediaframework.h"

#include <gst/gst.h>

bool MediaFrameworkInitialize() {
    GError* error = nullptr;
    // gst_init_check is idempotent: later calls return at once.
    const bool ok = gst_init_check(nullptr, nullptr, &error) != FALSE;
    if (error != nullptr) {
        g_error_free(error);
    }
    return ok;
}

void MediaFrameworkUninitialize() {}
