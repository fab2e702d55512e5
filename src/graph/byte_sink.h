// Where the image encoders put their bytes: memory for tests and embedded use,
// or a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tallowick::graph {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(std::span<const std::uint8_t> bytes) = 0;
    void put(std::uint8_t byte) { write({&byte, 1}); }
    // False once a write has failed; later writes are dropped.
    bool ok() const { return ok_; }

protected:
    bool ok_ = true;
};

class VectorSink : public ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override {
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    std::vector<std::uint8_t> data;
};

// A file opened for writing in binary mode, closed when the sink goes.
class FileSink : public ByteSink {
public:
    // Nothing when the file cannot be created.
    static std::unique_ptr<FileSink> create(const std::filesystem::path& path);
    void write(std::span<const std::uint8_t> bytes) override;
    // Flushes and closes; false when a write or the close failed.
    bool close();
    const std::filesystem::path& path() const { return path_; }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    FileSink(std::FILE* file, std::filesystem::path path) : file_(file), path_(std::move(path)) {}
    std::unique_ptr<std::FILE, Closer> file_;
    std::filesystem::path path_;
};

}  // namespace tallowick::graph
