// The partial file of a package download and its record, beside the package:
// "<package>.partial" holds the bytes of a download that has not verified,
// "<package>.partial.record" says what they are (resume_record.hpp). The
// partial file takes the package's name only once it has verified.
#pragma once

#include <optional>
#include <string>

#include "stream/file.hpp"
#include "update/download_resume.hpp"

namespace fenrix {

class partial_package : public partial_store {
public:
    // `package`: the package file, open; it is closed before the verified
    // partial file takes its name.
    partial_package(std::wstring package_path, stream::file& package);
    ~partial_package() override;
    partial_package(const partial_package&) = delete;
    partial_package& operator=(const partial_package&) = delete;

    stream::basic_file& partial() override;
    std::optional<resume_record> load_record() override;
    void save_record(const resume_record& record) override;
    void forget_record() override;
    void promote() override;

    // After the download, whatever its end: a partial file left empty goes,
    // and with it any record (an empty file has nothing to continue).
    void tidy() noexcept;
    // The package verified without a transfer: kept bytes of another
    // download of it are of no use any more.
    void remove() noexcept;

    const std::wstring& partial_path() const { return partial_name; }
    const std::wstring& record_path() const { return record_name; }

private:
    std::wstring package_name;
    std::wstring partial_name;
    std::wstring record_name;
    stream::file& package;
    stream::file file;
};

}  // namespace fenrix
