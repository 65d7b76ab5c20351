#include "run/held_lines.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace korvalen {

namespace {

constexpr std::size_t kPiece = std::size_t{1} << 20;

}  // namespace

HeldLines::HeldLines(const std::string& outputPath, std::size_t bound)
    : outputPath_(outputPath), bound_(bound) {}

void HeldLines::AddHitLine(const iset& options, std::string_view path, std::int64_t number,
                           std::string_view word, std::string_view text) {
    if (pieces_.empty() || pieces_.back().size() >= kPiece) {
        pieces_.emplace_back().reserve(kPiece + 4096);
    }
    std::string& piece = pieces_.back();
    const std::size_t before = piece.size();
    AppendHitLine(piece, path, number, word, text, options);
    piece += "\r\n";
    bytes_ += piece.size() - before;
    if (bytes_ > bound_) {
        Spill();
    }
}

void HeldLines::AddLines(std::string_view lines) {
    // Grown as they come: most files add a few lines only.
    if (pieces_.empty() || pieces_.back().size() >= kPiece) {
        pieces_.emplace_back();
    }
    pieces_.back() += lines;
    bytes_ += lines.size();
    if (bytes_ > bound_) {
        Spill();
    }
}

File HeldLines::OpenSpill() const {
    std::string folders[3];
    const char* tmp = std::getenv("TMPDIR");
    folders[0] = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    folders[1] = "/tmp";
    const std::string parent = std::filesystem::path(outputPath_).parent_path().string();
    folders[2] = parent.empty() ? "." : parent;
    for (std::size_t i = 0;; ++i) {
        try {
            return File(folders[i], File::Mode::Temporary);
        } catch (const FileError& e) {
            if (i + 1 == std::size(folders)) {
                throw HoldError(e.what());
            }
        }
    }
}

void HeldLines::Spill() {
    if (!spill_.IsOpen()) {
        spill_ = OpenSpill();
    }
    try {
        for (const std::string& piece : pieces_) {
            spill_.WriteAll(piece);
        }
    } catch (const FileError& e) {
        throw HoldError(e.what());
    }
    pieces_.resize(1);  // its room is used again
    pieces_.front().clear();
    bytes_ = 0;
}

void HeldLines::AppendTo(OutFile& out) {
    if (spill_.IsOpen()) {
        // In pieces of whole lines: the output gets nothing but whole lines.
        std::string piece(kPiece, '\0');
        std::size_t have = 0;
        try {
            spill_.Rewind();
            for (;;) {
                if (piece.size() - have < kPiece / 2) {
                    piece.resize(piece.size() * 2);  // a line longer than a piece
                }
                const std::size_t got = spill_.Read(piece.data() + have, piece.size() - have);
                have += got;
                const std::size_t last = std::string_view(piece.data(), have).rfind('\n');
                const std::size_t end = last == std::string_view::npos ? 0 : last + 1;
                out.WriteLines(std::string_view(piece.data(), end));
                std::memmove(piece.data(), piece.data() + end, have - end);
                have -= end;
                if (got == 0) {
                    break;
                }
            }
        } catch (const FileError& e) {
            Drop();
            throw OutputError(e.what());
        }
        spill_ = File();
    }
    for (const std::string& piece : pieces_) {
        out.WriteLines(piece);
    }
    Drop();
}

void HeldLines::Drop() noexcept {
    pieces_.resize(std::min<std::size_t>(pieces_.size(), 1));  // one piece kept for the next file
    if (!pieces_.empty()) {
        pieces_.front().clear();
    }
    bytes_ = 0;
    spill_ = File();
}

void HeldLines::Release() noexcept {
    std::vector<std::string>().swap(pieces_);
    bytes_ = 0;
    spill_ = File();
}

}  // namespace korvalen
