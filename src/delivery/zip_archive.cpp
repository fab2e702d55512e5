#include "delivery/zip_archive.h"

#include <zip.h>

namespace tallowick::delivery {

namespace {

std::string zip_error_text(zip_t* archive) { return zip_strerror(archive); }

}  // namespace

struct ZipArchive::Handle {
    zip_t* archive = nullptr;
    std::filesystem::path path;
    ~Handle() {
        if (archive) zip_discard(archive);
    }
};

ZipArchive::ZipArchive(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ZipArchive::~ZipArchive() = default;

std::unique_ptr<ZipArchive> ZipArchive::create(const std::filesystem::path& path,
                                               std::string& error) {
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive) {
        zip_error_t reason;
        zip_error_init_with_code(&reason, code);
        error = "'" + path.string() + "' -- " + zip_error_strerror(&reason);
        zip_error_fini(&reason);
        return nullptr;
    }
    auto handle = std::make_unique<Handle>();
    handle->archive = archive;
    handle->path = path;
    return std::unique_ptr<ZipArchive>(new ZipArchive(std::move(handle)));
}

bool ZipArchive::add(const std::filesystem::path& file, std::string_view name,
                     std::string& error) {
    zip_t* archive = handle_->archive;
    zip_source_t* source = zip_source_file(archive, file.c_str(), 0, -1)  /* -1: to its end */;
    if (!source) {
        error = "'" + file.string() + "' -- " + zip_error_text(archive);
        return false;
    }
    const std::string entry(name);
    if (zip_file_add(archive, entry.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
        zip_source_free(source);   // not taken over by the archive
        error = "'" + file.string() + "' -- " + zip_error_text(archive);
        return false;
    }
    return true;
}

bool ZipArchive::close(std::string& error) {
    zip_t* archive = handle_->archive;
    if (zip_close(archive) != 0) {
        error = "'" + handle_->path.string() + "' -- " + zip_error_text(archive);
        return false;   // the destructor discards it
    }
    handle_->archive = nullptr;
    return true;
}

}  // namespace tallowick::delivery
