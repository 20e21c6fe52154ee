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
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
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

// One file of a batch: its report, or why it could not be read.
struct entry {
    std::string path;
    std::optional<report_reader::report> report;
    std::string error;
    report_reader::symbol_lookup symbols;
};

// Symbols for every readable report of the batch; a failure is the error of
// the reports it concerns.
void symbolize_batch(std::vector<entry>& batch, const std::string& program, const std::string& module_name,
                     const std::string& store)
{
    if (!program.empty()) {
        for (entry& e : batch) {
            try {
                if (e.report)
                    e.symbols = report_reader::symbolize(*e.report, program, module_name);
            } catch (const report_reader::report_error& error) {
                e.error = error.what();
            }
        }
        return;
    }
    if (store.empty())
        return;
    std::vector<report_reader::report> reports;
    for (const entry& e : batch)
        if (e.report)
            reports.push_back(*e.report);
    try {
        std::vector<report_reader::symbol_lookup> symbols = report_reader::symbolize_from_store(reports, store);
        std::size_t k = 0;
        for (entry& e : batch)
            if (e.report)
                e.symbols = std::move(symbols[k++]);
    } catch (const report_reader::report_error&) {
        // A build in the store that cannot be read: each report alone, so
        // that only the reports needing that build fail.
        for (entry& e : batch) {
            try {
                if (e.report)
                    e.symbols = report_reader::symbolize_from_store({*e.report}, store)[0];
            } catch (const report_reader::report_error& error) {
                e.error = error.what();
            }
        }
    }
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
        if (files.size() != 1 || json || !store.empty() || !program.empty() ||
            (!shipped.empty() && !module_name.empty()))
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

    // Reports are read in batches: a symbol store serves a whole batch with
    // one addr2line run per build, and a batch bounds what is held at once.
    constexpr std::size_t batch_size = 16;
    int status = 0;
    for (std::size_t start = 0; start < files.size(); start += batch_size) {
        std::vector<entry> batch;
        for (std::size_t i = start; i < std::min(files.size(), start + batch_size); ++i) {
            entry& e = batch.emplace_back();
            e.path = files[i];
            try {
                e.report = report_reader::parse_report(report_reader::inflate_report(read_file(e.path)));
            } catch (const report_reader::report_error& error) {
                e.error = error.what();
            }
        }
        symbolize_batch(batch, program, module_name, store);
        for (const entry& e : batch) {
            if (!e.error.empty()) {
                if (json)
                    std::printf("%s\n", report_reader::error_json(e.error).c_str());
                std::fprintf(stderr, "report-reader: %s: error: %s\n", e.path.c_str(), e.error.c_str());
                status = 1;
            } else if (json) {
                std::printf("%s\n", report_reader::to_json(*e.report, e.symbols).c_str());
            } else {
                std::printf("%s:\n%s", e.path.c_str(), report_reader::describe(*e.report, e.symbols).c_str());
            }
        }
    }
    return status;
}
