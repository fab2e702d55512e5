#include "logs/tokens.h"

namespace tallowick::logs {

TokenTable& line_tokens() {
    thread_local TokenTable table;
    return table;
}

}  // namespace tallowick::logs
