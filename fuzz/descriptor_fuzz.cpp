// Any bytes as a descriptor: reading never fails, and a descriptor read in
// one-byte steps gives the same fields and package lines as one read from a
// memory file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "stream/memory_file.hpp"
#include "update/descriptor.hpp"
#include "update/descriptor_packages.hpp"

namespace {

class byte_source : public fenrix::stream::basic {
public:
    byte_source(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    std::size_t read(void* out, std::size_t length) override
    {
        if (pos == size || length == 0) {
            state = fenrix::stream::eof;
            return 0;
        }
        std::memcpy(out, data + pos++, 1);
        state = fenrix::stream::ok;
        return 1;
    }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fenrix::stream::memory_file file;
    file.write(data, size);
    file.seek(0);
    fenrix::package_descriptor from_file;
    fenrix::read_descriptor(file, from_file);

    byte_source source(data, size);
    fenrix::package_descriptor from_bytes;
    fenrix::read_descriptor(source, from_bytes);

    if (from_file.number != from_bytes.number || from_file.text != from_bytes.text ||
        from_file.update_url != from_bytes.update_url)
        std::abort();

    file.seek(0);
    const auto packages_from_file = fenrix::read_descriptor_packages(file);
    byte_source again(data, size);
    const auto packages_from_bytes = fenrix::read_descriptor_packages(again);
    if (packages_from_file.size() != packages_from_bytes.size())
        std::abort();
    for (std::size_t i = 0; i < packages_from_file.size(); ++i) {
        if (packages_from_file[i].name != packages_from_bytes[i].name ||
            packages_from_file[i].digest != packages_from_bytes[i].digest)
            std::abort();
    }
    return 0;
}
