#include "search/fast_search.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "platform/file.hpp"
#include "search/fast_scan.hpp"
#include "text/cp932.hpp"

namespace korvalen {

namespace {

class FileSource : public ByteSource {
  public:
    explicit FileSource(File& file) : file_(file) {}
    std::size_t Read(char* buf, std::size_t n) override { return file_.Read(buf, n); }

  private:
    File& file_;
};

// Memory for a whole file, from the system directly: large pages where the
// system allows (far fewer page faults), and no zeroing by a string.
class Region {
  public:
    Region() = default;
    explicit Region(std::size_t size) : size_(std::max<std::size_t>(size, 1)) {
        void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            throw std::bad_alloc();
        }
        data_ = static_cast<char*>(p);
#ifdef MADV_HUGEPAGE
        madvise(p, size_, MADV_HUGEPAGE);  // a hint; refusal changes nothing
#endif
    }
    ~Region() {
        if (data_ != nullptr) {
            munmap(data_, size_);
        }
    }
    Region(Region&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
    Region& operator=(Region&& o) noexcept {
        std::swap(data_, o.data_);
        std::swap(size_, o.size_);
        return *this;
    }
    char* Data() const noexcept {
        return data_;
    }
    std::size_t Size() const noexcept {
        return size_;
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Reads the whole file. Its size is a hint only: it may change while read.
std::string_view LoadWhole(const std::string& name, Region& region) {
    File file(name, File::Mode::Read);
    region = Region(static_cast<std::size_t>(file.Size()) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == region.Size()) {
            Region bigger(region.Size() * 2);
            std::memcpy(bigger.Data(), region.Data(), used);
            region = std::move(bigger);
        }
        const std::size_t got = file.Read(region.Data() + used, region.Size() - used);
        if (got == 0) {
            break;
        }
        used += got;
    }
    file.Close();
    return {region.Data(), used};
}

// One file's scan: writes the hits and keeps the run's state as the line loop
// of the scanners does, once per block instead of once per line.
class FastFileScan : public FastScanner::Host {
  public:
    FastFileScan(ScanContext& ctx, const std::string& name, bool trimPrevLine)
        : ctx_(ctx),
          name_(name),
          scanner_({ctx.options.JapaneseWord, ctx.options.CRText, trimPrevLine}) {
        generation_ = ctx_.host.WordsGeneration();
        words_ = &ctx_.words.Current();
        scanner_.SetWords(*words_);
    }

    FastScanner& Scanner() { return scanner_; }

    void Hit(std::int64_t number, std::uint32_t word, std::string_view text) override {
        WriteHitLine(ctx_.out, ctx_.options, name_, number, (*words_)[word], text);
        ++ctx_.state.HitCount;
        fileHasHits_ = true;
        newHits_ = true;
    }

    bool AfterBlock(std::int64_t progress) override {
        if (newHits_) {
            ctx_.host.SetStatusText(ctx_.state.StatusPrefix + "  (" +
                                    std::to_string(ctx_.state.HitCount) + " Lines)");
            newHits_ = false;
        }
        ctx_.host.ProcessMessages();
        ctx_.state.Progress += progress;
        ctx_.host.SetProgressPos(ctx_.state.Progress);
        // Words change only while messages are processed.
        const std::uint64_t generation = ctx_.host.WordsGeneration();
        if (generation != generation_) {
            generation_ = generation;
            words_ = &ctx_.words.Current();
            scanner_.SetWords(*words_);
        }
        return ctx_.state.Searching;
    }

    void Separate(bool isLast) {
        if (fileHasHits_ && ctx_.options.FileSeparate && !isLast) {
            ctx_.out.WriteLine({});
        }
    }

    void Failed() {
        if (ctx_.options.ErrorStop) {
            ctx_.host.ShowMessage(Cp932ToUtf8(FileErrorText()) + name_);
        }
        if (fileHasHits_ || !ctx_.options.FileSeparate) {
            ctx_.out.WriteLine({});
        }
        ctx_.out.WriteLine(FileErrorText() + name_);
        ctx_.out.WriteLine({});
        fileHasHits_ = false;
    }

  private:
    ScanContext& ctx_;
    const std::string& name_;
    FastScanner scanner_;
    std::uint64_t generation_ = 0;
    const std::vector<std::string>* words_ = nullptr;
    bool fileHasHits_ = false;
    bool newHits_ = false;
};

}  // namespace

void FastSearchByLine(ScanContext& ctx, const std::string& name, bool isLast) {
    FastFileScan scan(ctx, name, /*trimPrevLine=*/true);
    try {
        File file(name, File::Mode::Read);
        if (ctx.state.Searching) {
            FileSource source(file);
            scan.Scanner().ScanSource(source, scan);
        }
        file.Close();
    } catch (const FileError&) {
        scan.Failed();
        return;
    } catch (const std::bad_alloc&) {
        scan.Failed();
        return;
    }
    scan.Separate(isLast);
}

bool FastSearchInMemory(ScanContext& ctx, const std::string& name, bool isLast) {
    FastFileScan scan(ctx, name, /*trimPrevLine=*/false);
    Region region;
    std::string_view data;
    try {
        data = LoadWhole(name, region);
    } catch (const FileError&) {
        scan.Failed();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (ctx.state.Searching) {
        scan.Scanner().ScanBuffer(data, scan);
    }
    region = Region();  // the file's end comes before its separator line
    scan.Separate(isLast);
    return true;
}

}  // namespace korvalen
