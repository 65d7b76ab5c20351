#include "words/word_list.hpp"

#include <algorithm>

#include "text/lines.hpp"

namespace korvalen {

void WordList::Append(const std::vector<std::string>& lines) {
    lines_.insert(lines_.end(), lines.begin(), lines.end());
}

void WordList::SetText(std::string_view text) {
    lines_.clear();
    ForEachLine(text, [this](std::string_view line) { lines_.emplace_back(line); });
}

std::string WordList::Text(std::string_view lineBreak) const {
    std::string out;
    for (const std::string& line : lines_) {
        out += line;
        out += lineBreak;
    }
    return out;
}

void WordList::Tidy() {
    std::erase_if(lines_, [](const std::string& line) { return line.empty(); });
}

std::string WordList::WordCountText(std::size_t count) {
    return "検索語 : " + std::to_string(count) + "語";
}

}  // namespace korvalen
