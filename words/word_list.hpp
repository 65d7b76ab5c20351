// The search word list: the lines of the word box, one word per line, byte
// strings in code page 932. The box is its only store; these are the rules
// that every holder of the lines applies.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvalen {

class WordList {
  public:
    WordList() = default;
    explicit WordList(std::vector<std::string> lines) : lines_(std::move(lines)) {}

    const std::vector<std::string>& Lines() const noexcept { return lines_; }
    std::size_t Count() const noexcept { return lines_.size(); }
    bool Empty() const noexcept { return lines_.empty(); }

    void Clear() noexcept { lines_.clear(); }
    void Append(std::string line) { lines_.push_back(std::move(line)); }
    void Append(const std::vector<std::string>& lines);

    // The box's text split by the one line rule (a final break starts no line).
    void SetText(std::string_view text);
    // Every line followed by `lineBreak`; SetText of it gives the same lines.
    std::string Text(std::string_view lineBreak = "\n") const;

    // Leaving the edit mode: every empty line goes; a line of blanks stays.
    void Tidy();

    // "検索語 : " + Count() + "語" (UTF-8, for the status bar).
    std::string CountText() const { return WordCountText(lines_.size()); }
    static std::string WordCountText(std::size_t count);

  private:
    std::vector<std::string> lines_;
};

}  // namespace korvalen
