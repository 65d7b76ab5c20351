#include "run/scanner.hpp"

#include <string_view>

#include "text/cp932.hpp"

namespace korvalen {

namespace {
constexpr std::string_view kFileErrorUtf8 = "ファイルアクセスでエラーが生じました：";
}  // namespace

const std::vector<std::string>& WordCache::Current() {
    const std::uint64_t generation = host_.WordsGeneration();
    if (!fetched_ || generation != generation_) {
        words_ = host_.SearchWords();
        generation_ = generation;
        fetched_ = true;
    }
    return words_;
}

std::function<bool()> DetectionPause(ScanContext& ctx) {
    return [&ctx] {
        ctx.host.ProcessMessages();
        return ctx.state.Searching;
    };
}

const std::string& FileErrorText() {
    static const std::string text = Utf8ToCp932(kFileErrorUtf8);
    return text;
}

}  // namespace korvalen
