// The query subcommands: one document printed as JSON.
#pragma once

#include "document_reader.h"

namespace sysmon_cli {

struct QueryOptions {
  DocumentRequest request;
  int interval_ms = 1000;  // wait between the first collection and the reading
  int samples = 1;         // history: snapshots taken before reading it
  bool pretty = false;
};

// Prints the requested document; returns the exit status.
int run_query(const QueryOptions &options);

// Ends process `pid`; on failure writes the library's message to stderr and
// returns 1.
int run_kill(int pid);

}  // namespace sysmon_cli
