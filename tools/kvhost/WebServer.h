// kvhost serve: the pages and files of a site over HTTP/1.1 with
// keep-alive. Connections are served by a pool of threads; at most
// `workers` pages run at once, each with a database connection of its own
// taken from a pool.
#pragma once

#include "HostEnvironment.h"
#include "Options.h"

// Serves until SIGINT or SIGTERM; the exit status of kvhost.
int ServeSite(const KvHostOptions& options, const HostEnvironment& host);
