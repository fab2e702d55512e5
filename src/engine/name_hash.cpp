#include "engine/name_hash.h"

#include <cstring>

namespace tallowick::engine {

bool SameName(std::string_view a, std::string_view b, bool fold_case) {
    if (a.size() != b.size()) return false;
    if (!fold_case) return a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldByte(static_cast<unsigned char>(a[i])) !=
            FoldByte(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace tallowick::engine
