// The host's choice of log lines: how many, and where they go.

#include "api/error-report.h"
#include "korva.h"
#include "log/log.h"

static_assert(KORVA_LOG_OFF == static_cast<int>(LogLevel::kOff) &&
                  KORVA_LOG_ERROR == static_cast<int>(LogLevel::kError) &&
                  KORVA_LOG_WARNING == static_cast<int>(LogLevel::kWarning) &&
                  KORVA_LOG_INFO == static_cast<int>(LogLevel::kInfo),
              "korva.h's log levels are the log's own");

extern "C" {

KORVA_API int korva_set_log_level(int level) {
  if (level < KORVA_LOG_OFF || level > KORVA_LOG_INFO) {
    record_error("Unknown log level %d: KORVA_LOG_OFF (0) to KORVA_LOG_INFO (3)", level);
    return -1;
  }
  set_log_level(static_cast<LogLevel>(level));
  clear_last_error();
  return 0;
}

KORVA_API int korva_set_log_callback(korva_log_cb callback, void *user) {
  if (!set_log_callback(callback, user)) {
    record_error("Called from inside the log callback: the log is busy handing it a line");
    return -1;
  }
  clear_last_error();
  return 0;
}

}  // extern "C"
