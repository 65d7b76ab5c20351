#include "text/split.hpp"

#include <algorithm>

#include "text/sjis.hpp"

namespace korvalen {

std::pair<std::string, std::string> SplitAt(std::string_view s, char sep) {
    const std::size_t p = s.find(sep);
    if (p == std::string_view::npos) {
        return {};
    }
    return {std::string(s.substr(0, p)), std::string(s.substr(p + 1))};
}

std::string GroupDigits(std::string_view s) {
    // Built back to front, then reversed once.
    std::string rev;
    std::size_t count = 0;
    for (std::size_t i = s.size(); i >= 1 && s[i - 1] != ' '; --i) {
        rev.push_back(s[i - 1]);
        if (++count % 3 == 0) {
            rev.push_back(',');
        }
    }
    std::string result(rev.rbegin(), rev.rend());
    if (result.starts_with(',')) {
        result.erase(0, 1);
    } else if (result.starts_with("-,")) {
        result.erase(1, 1);
    }
    return result;
}

std::string PadLeft(std::string_view s, std::int32_t width) {
    std::string r = TrimSpaces(s);
    if (width > 0 && r.size() < static_cast<std::size_t>(width)) {
        r.insert(0, static_cast<std::size_t>(width) - r.size(), ' ');
    }
    return r;
}

}  // namespace korvalen
