#include "tools/report-reader/symbolizer.hpp"

#include "tools/report-reader/pe_file.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <strings.h>
#include <vector>

namespace report_reader {

std::string addr2line_for(std::uint16_t machine)
{
    switch (machine) {
    case 0x014C:
        return "i686-w64-mingw32-addr2line";
    case 0x8664:
        return "x86_64-w64-mingw32-addr2line";
    default:
        throw report_error("no addr2line for machine " + std::to_string(machine));
    }
}

namespace {

// A C++ linkage name as source text ("f(int)"); other names unchanged.
std::string demangled(const std::string& name)
{
    if (name.rfind("_Z", 0) != 0)
        return name;
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                     &std::free);
    return status == 0 && text ? std::string(text.get()) : name;
}

// Runs addr2line with the addresses as arguments and returns its output.
std::string run_addr2line(const std::string& tool, const std::string& program,
                          const std::vector<std::string>& addresses)
{
    // No -C: for i686 targets addr2line drops the symbol prefix "_" from the
    // DWARF linkage name before demangling, so "_Z3fooi" comes out as the
    // undemangled "Z3fooi". The names are demangled here instead.
    std::vector<std::string> arguments = {tool, "-f", "-e", program};
    arguments.insert(arguments.end(), addresses.begin(), addresses.end());
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        throw report_error("pipe failed");
    const pid_t child = fork();
    if (child < 0)
        throw report_error("fork failed");
    if (child == 0) {
        dup2(pipe_ends[1], 1);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, std::size_t(n));
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw report_error("could not run " + tool);
    return output;
}

}  // namespace

std::vector<std::string> look_up(const std::string& program, std::uint16_t machine,
                                 const std::vector<std::uint64_t>& addresses)
{
    const std::string addr2line = addr2line_for(machine);
    // Each address once (a deep recursion repeats one return address many
    // times), in runs that keep addr2line's command line short.
    std::map<std::uint64_t, std::string> found;
    for (std::uint64_t address : addresses)
        found.emplace(address, std::string());
    std::vector<std::uint64_t> unique;
    for (const auto& entry : found)
        unique.push_back(entry.first);
    constexpr std::size_t run_length = 4096;
    for (std::size_t start = 0; start < unique.size(); start += run_length) {
        const std::size_t end = std::min(unique.size(), start + run_length);
        std::vector<std::string> texts;
        for (std::size_t k = start; k < end; ++k) {
            char text[24];
            std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(unique[k]));
            texts.push_back(text);
        }
        const std::string output = run_addr2line(addr2line, program, texts);
        std::size_t position = 0;
        auto next_line = [&]() {
            const std::size_t line_end = output.find('\n', position);
            std::string line =
                output.substr(position, line_end == std::string::npos ? std::string::npos : line_end - position);
            position = line_end == std::string::npos ? output.size() : line_end + 1;
            return line;
        };
        for (std::size_t k = start; k < end; ++k) {
            const std::string function = demangled(next_line());
            const std::string place = next_line();
            found[unique[k]] = function + " at " + place;
        }
    }
    std::vector<std::string> symbols;
    for (std::uint64_t address : addresses)
        symbols.push_back(found[address]);
    return symbols;
}

std::uint64_t lookup_address(const report& r, std::size_t frame, std::uint64_t base)
{
    return base + r.frames[frame].offset - (frame > 0 ? 1 : 0);
}

symbol_lookup symbolize(const report& r, const std::string& program, const std::string& module_name)
{
    const pe_file_info info = read_pe_info(program);
    if (info.machine != r.machine)
        throw report_error(program + " is built for machine " + std::to_string(info.machine) +
                           ", the report comes from machine " + std::to_string(r.machine));
    std::vector<std::size_t> frames;
    std::vector<std::uint64_t> addresses;
    for (std::size_t i = 0; i < r.frames.size(); ++i) {
        if (strcasecmp(to_utf8(r.modules[r.frames[i].module].name).c_str(), module_name.c_str()) != 0)
            continue;
        frames.push_back(i);
        addresses.push_back(lookup_address(r, i, info.image_base));
    }
    symbol_lookup symbols(r.frames.size());
    if (frames.empty())
        return symbols;
    const std::vector<std::string> found = look_up(program, info.machine, addresses);
    for (std::size_t k = 0; k < frames.size(); ++k)
        symbols[frames[k]] = found[k];
    return symbols;
}

}  // namespace report_reader
