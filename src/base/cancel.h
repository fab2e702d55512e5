// The process's request to stop the run: SIGINT and SIGTERM raise it. The
// analysis run looks at it before every line, report assembly before every file;
// a cancelled report is rolled back, so the old one stays as it was.
#pragma once

namespace tallowick {

// Installs the handlers of SIGINT and SIGTERM (a second signal of the same kind
// ends the process at once) and ignores SIGXFSZ, so that a file-size limit makes
// a write fail with a reason instead of killing the process.
void install_cancel_signals();

void request_cancel();
bool cancel_requested();
// The signal that asked for the stop, or 0.
int cancel_signal();
void clear_cancel();

}  // namespace tallowick
