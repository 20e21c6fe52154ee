// A small program with debug information whose functions the crash view tests
// name: reports point into it by offsets taken from its symbol table, and the
// view must show these names. It is only built, never run.
#include <cstdio>

extern "C" __attribute__((noinline)) int sample_parse_header(const char* text)
{
    int sum = 0;
    for (const char* p = text; *p; ++p)
        sum = sum * 31 + *p;
    return sum;
}

extern "C" __attribute__((noinline)) int sample_read_block(const char* text)
{
    return sample_parse_header(text) + 1;
}

__attribute__((noinline)) int sample_install_package(const char* text)
{
    return sample_read_block(text) * 2;
}

int main(int argc, char** argv)
{
    std::printf("%d\n", sample_install_package(argc > 1 ? argv[1] : "x"));
    return 0;
}
