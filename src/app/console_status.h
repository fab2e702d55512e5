// The batch run's status sink: one progress line on standard error that rewrites
// itself (percentage, lines processed, time left) while a terminal shows it.
#pragma once

#include <string>

#include "base/status.h"

namespace tallowick::app {

class ConsoleStatusSink : public StatusSink {
public:
    // live: draw the progress line (standard error is a terminal, no "-q").
    explicit ConsoleStatusSink(bool live);
    ConsoleStatusSink();
    void progress(int percent, std::string_view text, std::string_view time_left) override;
    void error(std::string_view text) override;
    void progress_done() override;

private:
    bool live_;
    bool drawn_ = false;
};

}  // namespace tallowick::app
