#include "run/scanner.hpp"

#include <string_view>

#include "text/cp932.hpp"

namespace korvalen {

namespace {
constexpr std::string_view kFileErrorUtf8 = "ファイルアクセスでエラーが生じました：";
}  // namespace

std::function<bool()> DetectionPause(ScanContext& ctx) {
    return [&ctx] {
        ctx.host.ProcessMessages();
        return ctx.state.Searching.load();
    };
}

const std::string& FileErrorText() {
    static const std::string text = Utf8ToCp932(kFileErrorUtf8);
    return text;
}

}  // namespace korvalen
