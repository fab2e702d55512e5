#include "engine/session_rec.h"

#include "base/status.h"

namespace tallowick::engine {

int SessionRecList::Append(int kind, double value) {
    if (count_ >= Capacity()) {
        const std::size_t grown = records_.size() + kGrowth;
        try {
            records_.resize(grown);
        } catch (const std::bad_alloc&) {
            OutOfMemory("SessionRec Failed to Add",
                        static_cast<long>(grown * sizeof(SessionRecord)));
            return -1;
        }
    }
    records_[count_] = SessionRecord{value, kind};
    const int index = count_++;
    if (kind == 1) {
        path_hash_ = 0;
        steps_ = 0;
        visit_start_ = count_;
        visit_open_ = true;
        visit_ = VisitShape{};
        visit_.start = visit_.last = value;
    }
    return index;
}

}  // namespace tallowick::engine
