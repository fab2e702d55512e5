// Reading a GIF held in memory (the world map of the region chart). The input is
// treated as hostile: every read goes through a bounded cursor, and decoding stops
// as soon as the image is full.
#include <array>
#include <cstring>
#include <vector>

#include "graph/encoders.h"

namespace tallowick::graph {

namespace {

class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool byte(int& out) {
        if (pos_ >= bytes_.size()) return false;
        out = bytes_[pos_++];
        return true;
    }
    bool u16(int& out) {
        if (bytes_.size() - pos_ < 2) return false;
        out = bytes_[pos_] | bytes_[pos_ + 1] << 8;
        pos_ += 2;
        return true;
    }
    bool take(std::size_t n, std::span<const std::uint8_t>& out) {
        if (bytes_.size() - pos_ < n) return false;
        out = bytes_.subspan(pos_, n);
        pos_ += n;
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Appends the data of a chain of sub-blocks (ended by a zero-length block).
bool read_sub_blocks(Cursor& in, std::vector<std::uint8_t>* data) {
    for (;;) {
        int length = 0;
        if (!in.byte(length)) return false;
        if (length == 0) return true;
        std::span<const std::uint8_t> block;
        if (!in.take(static_cast<std::size_t>(length), block)) return false;
        if (data) data->insert(data->end(), block.begin(), block.end());
    }
}

bool read_colour_table(Cursor& in, int flags, std::span<const std::uint8_t>& table) {
    const std::size_t entries = std::size_t{1} << ((flags & 7) + 1);
    return in.take(entries * 3, table);
}

// LSB-first code reader over the image data.
class CodeReader {
public:
    explicit CodeReader(const std::vector<std::uint8_t>& data) : data_(data) {}
    // False when the data ends before the code does.
    bool read(int bits, int& code) {
        while (pending_ < bits) {
            if (pos_ >= data_.size()) return false;
            accumulator_ |= static_cast<std::uint32_t>(data_[pos_++]) << pending_;
            pending_ += 8;
        }
        code = static_cast<int>(accumulator_ & ((1u << bits) - 1));
        accumulator_ >>= bits;
        pending_ -= bits;
        return true;
    }

private:
    const std::vector<std::uint8_t>& data_;
    std::size_t pos_ = 0;
    std::uint32_t accumulator_ = 0;
    int pending_ = 0;
};

// Places decoded pixels in row order (interlaced or not) and marks the palette
// slots they use.
class PixelPlacer {
public:
    explicit PixelPlacer(Canvas& canvas) : canvas_(canvas) {
        static constexpr int kStart[] = {0, 4, 2, 1};
        static constexpr int kStep[] = {8, 8, 4, 2};
        if (canvas.interlace) {
            for (int pass = 0; pass < 4; ++pass)
                for (int y = kStart[pass]; y < canvas.height(); y += kStep[pass]) rows_.push_back(y);
        } else {
            for (int y = 0; y < canvas.height(); ++y) rows_.push_back(y);
        }
    }
    bool full() const { return row_ >= rows_.size(); }
    void put(std::uint8_t p) {
        if (full()) return;
        canvas_.row(rows_[row_])[static_cast<std::size_t>(x_)] = p;
        canvas_.open[p] = false;
        if (++x_ == canvas_.width()) {
            x_ = 0;
            ++row_;
        }
    }

private:
    Canvas& canvas_;
    std::vector<int> rows_;
    std::size_t row_ = 0;
    int x_ = 0;
};

// Decodes LZW image data. False for a code the table cannot explain; data that
// ends early leaves the rest of the image at index 0.
bool decode_lzw(const std::vector<std::uint8_t>& data, int code_size, PixelPlacer& out) {
    constexpr int kTableSize = 4096;
    std::array<std::uint16_t, kTableSize> prefix{};
    std::array<std::uint8_t, kTableSize> suffix{};
    std::array<std::uint8_t, kTableSize> first{};
    std::array<std::uint8_t, kTableSize + 1> stack{};

    const int clear = 1 << code_size;
    const int eoi = clear + 1;
    for (int i = 0; i < clear; ++i) {
        suffix[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        first[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    int width = code_size + 1;
    int next = clear + 2;
    int prev = -1;
    CodeReader codes(data);
    int code = 0;
    // Emits the string of a table code; returns its first pixel.
    auto emit = [&](int c) {
        std::size_t depth = 0;
        for (int k = c; ; k = prefix[static_cast<std::size_t>(k)]) {
            stack[depth++] = suffix[static_cast<std::size_t>(k)];
            if (k < clear) break;
        }
        while (depth > 0) out.put(stack[--depth]);
        return first[static_cast<std::size_t>(c)];
    };
    while (!out.full() && codes.read(width, code)) {
        if (code == clear) {
            width = code_size + 1;
            next = clear + 2;
            prev = -1;
            continue;
        }
        if (code == eoi) break;
        if (prev < 0) {
            if (code > clear) return false;   // a table code before any entry exists
            out.put(static_cast<std::uint8_t>(code));
            prev = code;
            continue;
        }
        std::uint8_t head;
        if (code < next) {
            head = emit(code);
        } else if (code == next) {
            // The entry being defined: the previous string and its own first pixel.
            head = emit(prev);
            out.put(head);
        } else {
            return false;
        }
        if (next < kTableSize) {
            const auto n = static_cast<std::size_t>(next);
            prefix[n] = static_cast<std::uint16_t>(prev);
            suffix[n] = head;
            first[n] = first[static_cast<std::size_t>(prev)];
            ++next;
            if (next == (1 << width) && width < 12) ++width;
        }
        prev = code;
    }
    return true;
}

}  // namespace

std::unique_ptr<Canvas> gif_read_memory(std::span<const std::uint8_t> bytes) {
    Cursor in(bytes);
    std::span<const std::uint8_t> signature;
    if (!in.take(6, signature)) return nullptr;
    if (std::memcmp(signature.data(), "GIF87a", 6) != 0 && std::memcmp(signature.data(), "GIF89a", 6) != 0)
        return nullptr;
    int screen_width = 0, screen_height = 0, screen_flags = 0, ignored = 0;
    if (!in.u16(screen_width) || !in.u16(screen_height) || !in.byte(screen_flags) ||
        !in.byte(ignored) || !in.byte(ignored))
        return nullptr;
    std::span<const std::uint8_t> global_table;
    if ((screen_flags & 0x80) && !read_colour_table(in, screen_flags, global_table)) return nullptr;

    int transparent = -1;
    std::unique_ptr<Canvas> canvas;
    for (;;) {
        int introducer = 0;
        if (!in.byte(introducer)) return nullptr;
        if (introducer == 0x3B || (introducer == 0x2C && canvas)) break;
        if (introducer == 0x21) {
            int label = 0;
            if (!in.byte(label)) return nullptr;
            std::vector<std::uint8_t> data;
            if (!read_sub_blocks(in, label == 0xF9 ? &data : nullptr)) return nullptr;
            if (label == 0xF9 && !canvas && data.size() >= 4 && (data[0] & 1)) transparent = data[3];
            continue;
        }
        if (introducer != 0x2C) return nullptr;

        int left = 0, top = 0, width = 0, height = 0, flags = 0;
        if (!in.u16(left) || !in.u16(top) || !in.u16(width) || !in.u16(height) || !in.byte(flags))
            return nullptr;
        std::span<const std::uint8_t> table = global_table;
        if ((flags & 0x80) && !read_colour_table(in, flags, table)) return nullptr;
        int code_size = 0;
        if (!in.byte(code_size)) return nullptr;
        std::vector<std::uint8_t> data;
        if (!read_sub_blocks(in, &data)) return nullptr;
        if (code_size < 1 || code_size > 8) return nullptr;
        if (static_cast<long>(width) * height > kGifMaxPixels) return nullptr;
        canvas = canvas_create(width, height, false);
        if (!canvas) return nullptr;
        canvas->interlace = (flags & 0x40) != 0;
        canvas->color_count = kPaletteSize;
        canvas->open.fill(true);
        for (std::size_t i = 0; i < table.size() / 3; ++i) {
            canvas->red[i] = table[3 * i];
            canvas->green[i] = table[3 * i + 1];
            canvas->blue[i] = table[3 * i + 2];
        }
        PixelPlacer placer(*canvas);
        if (!decode_lzw(data, code_size, placer)) return nullptr;
        // Pixels the data did not reach stay at index 0, which is then in use.
        if (!placer.full()) canvas->open[0] = false;
    }
    if (!canvas) return nullptr;
    while (canvas->color_count > 0 && canvas->open[static_cast<std::size_t>(canvas->color_count - 1)])
        --canvas->color_count;
    canvas->transparent = transparent;
    return canvas;
}

}  // namespace tallowick::graph
