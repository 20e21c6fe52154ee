// report-reader: prints crash reports of the Brindlex format.
//
//   report-reader [--json] [--symbols PROGRAM [--module NAME] | --store DIR] REPORT...
//   report-reader --file-symbols STORE PROGRAM [--shipped STRIPPED | --module NAME]
//
// REPORT is a .bxo or .bxr file or a saved upload body. With --symbols, the
// frames of the module NAME (default: the file name of PROGRAM) get their
// function and source line from PROGRAM, a build with debug information. With
// --store, every module finds its build in the symbol store DIR by the name
// and time stamp in the report. --json prints one JSON object per report and
// line ({"error": ...} for one that cannot be read).
//
// --file-symbols files PROGRAM (an unstripped build, e.g. X.full.exe) in
// STORE and prints the path filed. Stripping gives a PE file a new time
// stamp, so name the stripped file that ships with --shipped: its name and
// time stamp are the ones reports carry. Without it, the module name is NAME
// or X.exe, and the time stamp that of PROGRAM.
//
// Exit status: 0 when every report was read, 1 when one was malformed or
// could not be read (or filing failed), 2 for a wrong command line.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/report-reader/json_output.hpp"
#include "tools/report-reader/report.hpp"
#include "tools/report-reader/symbol_store.hpp"
#include "tools/report-reader/symbolizer.hpp"

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: report-reader [--json] [--symbols PROGRAM [--module NAME] | --store DIR] REPORT...\n"
                 "       report-reader --file-symbols STORE PROGRAM [--shipped STRIPPED | --module NAME]\n");
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
    std::string program, module_name, store, filing_store, shipped;
    bool json = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--symbols" && i + 1 < argc)
            program = argv[++i];
        else if (a == "--module" && i + 1 < argc)
            module_name = argv[++i];
        else if (a == "--store" && i + 1 < argc)
            store = argv[++i];
        else if (a == "--shipped" && i + 1 < argc)
            shipped = argv[++i];
        else if (a == "--file-symbols" && i + 1 < argc)
            filing_store = argv[++i];
        else if (a == "--json")
            json = true;
        else if (!a.empty() && a[0] == '-')
            return usage();
        else
            files.push_back(a);
    }
    if (!filing_store.empty()) {
        if (files.size() != 1 || json || !store.empty() || !program.empty() || (!shipped.empty() && !module_name.empty()))
            return usage();
        try {
            std::printf("%s\n", report_reader::file_symbols(filing_store, files[0], module_name, shipped).c_str());
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "report-reader: %s: error: %s\n", files[0].c_str(), e.what());
            return 1;
        }
    }
    if (files.empty() || !shipped.empty() || (!program.empty() && !store.empty()))
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
            else if (!store.empty())
                symbols = report_reader::symbolize_from_store(r, store);
            if (json)
                std::printf("%s\n", report_reader::to_json(r, symbols).c_str());
            else
                std::printf("%s:\n%s", path.c_str(), report_reader::describe(r, symbols).c_str());
        } catch (const report_reader::report_error& e) {
            if (json)
                std::printf("%s\n", report_reader::error_json(e.what()).c_str());
            std::fprintf(stderr, "report-reader: %s: error: %s\n", path.c_str(), e.what());
            status = 1;
        }
    }
    return status;
}
