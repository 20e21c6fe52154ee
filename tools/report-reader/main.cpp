// report-reader: prints crash reports of the Brindlex format.
//
//   report-reader [--symbols PROGRAM [--module NAME]] REPORT...
//
// REPORT is a .bxo or .bxr file or a saved upload body. With --symbols, the
// frames of the module NAME (default: the file name of PROGRAM) get their
// function and source line from PROGRAM, a build with debug information.
// Exit status: 0 when every report was read, 1 when one was malformed or
// could not be read, 2 for a wrong command line.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/report-reader/report.hpp"
#include "tools/report-reader/symbolizer.hpp"

namespace {

int usage()
{
    std::fprintf(stderr, "usage: report-reader [--symbols PROGRAM [--module NAME]] REPORT...\n");
    return 2;
}

std::string read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw report_reader::report_error("cannot open the file");
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv)
{
    std::string program, module_name;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--symbols" && i + 1 < argc)
            program = argv[++i];
        else if (a == "--module" && i + 1 < argc)
            module_name = argv[++i];
        else if (!a.empty() && a[0] == '-')
            return usage();
        else
            files.push_back(a);
    }
    if (files.empty())
        return usage();
    if (!program.empty() && module_name.empty())
        module_name = program.substr(program.find_last_of('/') + 1);

    int status = 0;
    for (const std::string& path : files) {
        try {
            const report_reader::report r = report_reader::parse_report(report_reader::inflate_report(read_file(path)));
            report_reader::symbol_lookup symbols;
            if (!program.empty())
                symbols = report_reader::symbolize(r, program, module_name);
            std::printf("%s:\n%s", path.c_str(), report_reader::describe(r, symbols).c_str());
        } catch (const report_reader::report_error& e) {
            std::fprintf(stderr, "report-reader: %s: error: %s\n", path.c_str(), e.what());
            status = 1;
        }
    }
    return status;
}
