// Files taken for UTF-8 by their start and scanned before the rest is known:
// whatever comes later decides, and the output, hit count and progress are
// those of the literal scanners, which read the whole file first.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "fixture.hpp"
#include "run/scanner.hpp"

namespace korvalen::test {
namespace {

TEST(FastUtf8, FilesDecidedLateMatchTheLiteralScanners) {
    TempDir dir;
    const std::string ascii = "a plain line with abc in it, and some more text to pad it out\n";
    const std::string utf8 = "検索の行です、abc もあります。もう少し長くしておきます\n";
    const std::string sjis = Sj("検索の行です、abc もあります") + "\n";
    struct Case {
        const char* name;
        std::string text;
        std::size_t failPast = SIZE_MAX;  // reads of the file fail past this byte
        bool heldBack = false;            // hits held while the encoding is open
    };
    const Case cases[] = {
        {"ascii then utf8", Times(ascii, 18000) + Times(utf8, 50)},
        {"ascii throughout", Times(ascii, 18000)},
        {"ascii then sjis", Times(ascii, 18000) + sjis + Times(ascii, 50)},
        {"utf8 then sjis", Times(utf8, 16000) + sjis + Times(utf8, 50), SIZE_MAX, true},
        {"utf8 cut short at the end", Times(utf8, 16000) + "\xE6\xA4"},
        // As when the file is read whole first: its hits go, its error block stays.
        {"utf8, the read fails past 1.5 MB", Times(utf8, 20000), 3 << 19},
    };
    const std::string second = dir.File("second.txt", Sj("二つ目の検索\r\n"));
    const std::string path = dir / "f.txt";
    const std::string out = dir / "out.txt";
    for (const Case& c : cases) {
        WriteBytes(path, c.text);
        const auto size = static_cast<std::int64_t>(c.text.size());
        // The large failing file with one set of options only, to keep the run short.
        for (int variant = 0; variant < (c.failPast == SIZE_MAX ? 3 : 1); ++variant) {
            iset options = Quiet();
            options.InputEncoding = 1;
            options.CRText = variant == 1;
            options.JapaneseWord = variant != 2;
            options.FileOverWrite = variant != 0;
            std::optional<std::tuple<std::string, std::string, std::int64_t>> first;
            auto search = [&](RecordingHost& host, Scan scan) {
                host.words = {"abc", Sj("検索")};
                WriteBytes(out, "an earlier run\r\n");
                FailingOps ops(path, FailingOps::Fail::Read, c.failPast == SIZE_MAX ? INT_MAX : 0);
                ops.okBytes = c.failPast;
                ScopedFileOps scoped(ops);
                // Past a small bound held hit lines go through a file.
                return RunScan(host, scan, {path, second}, out, options,
                               variant == 0 ? HeldLines::kDefaultBound : 1 << 16)
                    .output;
            };
            for (const Scan scan : kScans) {
                SCOPED_TRACE(std::string(c.name) + " variant " + std::to_string(variant) +
                             " scanner " + std::to_string(static_cast<int>(scan)));
                RecordingHost host;
                const std::string output = search(host, scan);
                // The first file's own progress comes just before the run
                // sets it to the file's size (a failed file has none).
                const auto& pos = host.positions;
                const auto last = std::find(pos.rbegin(), pos.rend(), size);
                const bool failed = c.failPast != SIZE_MAX;
                const std::int64_t progress =
                    !failed && last != pos.rend() && last + 1 != pos.rend() ? *(last + 1) : -2;
                const std::vector<std::string> status = host.Only("status 検索中：2/2");
                ASSERT_FALSE(status.empty());
                if (!first) {
                    first.emplace(output, status.front(), progress);
                    EXPECT_TRUE(!failed || output.find(Sj("検索の行")) == std::string::npos);
                    EXPECT_EQ(output.find(FileErrorText() + path) != std::string::npos, failed);
                    ASSERT_EQ(progress == -2, failed);
                }
                EXPECT_TRUE(std::tie(output, status.front(), progress) == *first);
                const std::string& expected = std::get<0>(*first);
                if (!c.heldBack || IsLiteral(scan)) {
                    continue;
                }
                // Another writer appends to the output meanwhile: its lines
                // survive, and ours arrive whole.
                const std::string other = "another writer\r\n";
                File writer(out, File::Mode::Append);
                int appended = 0;
                RecordingHost appending;
                appending.onProcess = [&](RecordingHost&) {
                    writer.WriteAll(other);
                    ++appended;
                };
                std::string got = search(appending, scan);
                int found = 0;
                for (std::size_t at; (at = got.find(other)) != std::string::npos; ++found) {
                    got.erase(at, other.size());
                }
                EXPECT_EQ(found, appended);
                EXPECT_TRUE(got == expected);
                // A Stop while the encoding is open writes no line that the
                // finished run would not.
                RecordingHost stopping;
                stopping.onProcess = [](RecordingHost& h) {
                    if (h.run->State().HitCount > 0) {
                        h.run->Stop();
                    }
                };
                const std::string stopped = search(stopping, scan);
                for (std::size_t at = 0, end; at < stopped.size(); at = end + 2) {
                    end = stopped.find("\r\n", at);
                    EXPECT_NE(expected.find(stopped.substr(at, end + 2 - at)), std::string::npos);
                }
            }
        }
    }
}

}  // namespace
}  // namespace korvalen::test
