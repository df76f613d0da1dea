#pragma once

#include <curl/curl.h>

/// What every fetch of the process shares, whichever thread makes it: DNS answers and TLS
/// sessions, so that a partner's second page, asked for by another worker, resumes the session
/// the first one began instead of a whole handshake. Connections themselves stay with their
/// thread: libcurl does not share them between threads that run at once. Null when it could not
/// be made, and then every thread keeps its own caches as before.
CURLSH* SharedFetchCaches();
