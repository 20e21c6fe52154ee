#include "tools/report-reader/symbol_store.hpp"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "tools/report-reader/pe_file.hpp"

namespace report_reader {

namespace fs = std::filesystem;

namespace {

std::string lower_ascii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

// A report's module name is untrusted: only a plain file name may become a
// folder name of the store.
bool usable_module_name(const std::string& name)
{
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
        name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::string folder_of(const std::string& store, const std::string& module_name, std::uint32_t time_stamp)
{
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%08X", time_stamp);
    return (fs::path(store) / lower_ascii(module_name) / stamp).string();
}

std::string read_all(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw report_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

std::string shipped_module_name(const std::string& program)
{
    std::string name = fs::path(program).filename().string();
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    if (stem.size() > 5 && lower_ascii(stem.substr(stem.size() - 5)) == ".full")
        name.erase(stem.size() - 5, 5);
    return name;
}

std::string file_symbols(const std::string& store, const std::string& program, std::string module_name,
                         const std::string& shipped)
{
    if (module_name.empty())
        module_name = shipped.empty() ? shipped_module_name(program) : fs::path(shipped).filename().string();
    if (!usable_module_name(module_name))
        throw report_error("\"" + module_name + "\" is not a module file name");
    pe_file_info info = read_pe_info(program);
    if (!shipped.empty()) {
        const pe_file_info shipped_info = read_pe_info(shipped);
        if (shipped_info.entry_point != info.entry_point || shipped_info.code_size != info.code_size)
            throw report_error(shipped + " is not a stripped copy of " + program);
        info.time_stamp = shipped_info.time_stamp;
    }
    if (info.time_stamp == 0)
        throw report_error(program + " has no time stamp, so reports cannot tell its build from others");
    const fs::path folder = folder_of(store, module_name, info.time_stamp);
    const fs::path target = folder / fs::path(program).filename();
    const std::string content = read_all(program);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw report_error("cannot create " + folder.string() + ": " + error.message());
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(".tmp-", 0) == 0)
            continue;
        if (read_all(entry.path()) != content)
            throw report_error("another build of " + module_name + " with the same time stamp is filed as " +
                               entry.path().string());
        return entry.path().string();
    }
    const fs::path temporary = folder / (".tmp-" + std::to_string(getpid()));
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(content.data(), std::streamsize(content.size()));
        out.close();
        if (!out)
            throw report_error("cannot write " + temporary.string());
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        throw report_error("cannot file " + target.string());
    }
    return target.string();
}

std::optional<std::string> find_symbols(const std::string& store, const std::string& module_name,
                                        std::uint32_t time_stamp)
{
    if (!usable_module_name(module_name))
        return std::nullopt;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder_of(store, module_name, time_stamp), error)) {
        if (entry.is_regular_file() && entry.path().filename().string().rfind(".tmp-", 0) != 0)
            return entry.path().string();
    }
    return std::nullopt;
}

std::vector<symbol_lookup> symbolize_from_store(const std::vector<report>& reports, const std::string& store)
{
    struct wanted {
        std::size_t report, frame;
    };
    struct build {
        std::uint16_t machine = 0;
        std::vector<wanted> frames;
        std::vector<std::uint64_t> addresses;
    };
    std::map<std::pair<std::string, std::uint32_t>, std::optional<std::string>> programs;  // by name and stamp
    std::map<std::string, pe_file_info> headers;
    std::map<std::string, build> builds;
    std::vector<symbol_lookup> symbols;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const report& r = reports[i];
        symbols.emplace_back(r.frames.size());
        for (std::size_t f = 0; f < r.frames.size(); ++f) {
            const module_record& m = r.modules[r.frames[f].module];
            const auto key = std::make_pair(lower_ascii(to_utf8(m.name)), m.time_stamp);
            auto program = programs.find(key);
            if (program == programs.end())
                program = programs.emplace(key, find_symbols(store, key.first, key.second)).first;
            if (!program->second)
                continue;
            const std::string& path = *program->second;
            auto header = headers.find(path);
            if (header == headers.end())
                header = headers.emplace(path, read_pe_info(path)).first;
            if (header->second.machine != r.machine)
                continue;
            build& b = builds[path];
            b.machine = header->second.machine;
            b.frames.push_back({i, f});
            b.addresses.push_back(lookup_address(r, f, header->second.image_base));
        }
    }
    for (const auto& [path, b] : builds) {
        const std::vector<std::string> found = look_up(path, b.machine, b.addresses);
        for (std::size_t k = 0; k < b.frames.size(); ++k)
            symbols[b.frames[k].report][b.frames[k].frame] = found[k];
    }
    return symbols;
}

}  // namespace report_reader
