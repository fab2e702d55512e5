// Where the image encoders put their bytes: memory for tests and embedded use,
// or a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/file_transaction.h"

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

// An image file being written under a temporary name: with a transaction it
// takes its final name when the transaction commits, without one when it is
// closed. A sink dropped without close() leaves nothing behind.
class FileSink : public ByteSink {
public:
    // Nothing when the file cannot be created; error then holds the path and
    // the system's reason.
    static std::unique_ptr<FileSink> create(FileTransaction* files,
                                            const std::filesystem::path& path, std::string& error);
    void write(std::span<const std::uint8_t> bytes) override;
    // Finishes the file; false when a write, the close or the rename failed.
    bool close();
    const std::filesystem::path& path() const { return file_.path(); }
    const std::string& error() const { return error_; }

private:
    FileSink() = default;
    std::unique_ptr<FileTransaction> own_;   // an image on its own
    StagedFile file_;
    std::string error_;
};

}  // namespace tallowick::graph
