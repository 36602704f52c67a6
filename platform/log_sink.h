// In-process receiver of log lines, so tests can assert what was logged.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*nmm_log_sink)(int prio, const char* tag, const char* text);

// Installs (or, with null, removes) the receiver of every later log line.
void nmm_set_log_sink(nmm_log_sink sink);

#ifdef __cplusplus
}
#endif
