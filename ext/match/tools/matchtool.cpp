// matchtool: fingerprint comparison from the command line.
//   matchtool score A.bmp B.bmp   prints the similarity score of two prints
//   matchtool pairs               reads "A.bmp<TAB>B.bmp" lines on standard input and prints
//                                 "A<TAB>B<TAB>score" for each; each file is read and its
//                                 template made once
//   matchtool set DIR             compares the slot files dedo1.bmp ... dedo10.bmp of DIR
//                                 and prints "N<TAB>M<TAB>score" for each pair of slots that
//                                 look like the same finger; missing slot files and copies
//                                 of DIR's amputation picture (Amputado.BMP, any case) are
//                                 skipped
// Exit status 0, 1 when a file cannot be read (reason on stderr; pairs goes on with the
// next line), 2 on a wrong command line; -h or --help prints the usage on stdout.
#include "fpmatch.h"
#include "greyio.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

namespace {

const char kUsage[] =
    "usage: matchtool score A.bmp B.bmp\n"
    "       matchtool pairs < LIST\n"
    "       matchtool set DIR\n"
    "Compares fingerprints (8-bit grey BMP, 500 ppi). score prints the similarity of two\n"
    "prints (0 ... 100). pairs reads lines \"A.bmp<TAB>B.bmp\" and prints\n"
    "\"A<TAB>B<TAB>score\" for each. set compares the slot files dedo1.bmp ... dedo10.bmp\n"
    "of DIR (missing ones, and copies of the amputation picture Amputado.BMP of DIR, are\n"
    "skipped) and prints \"N<TAB>M<TAB>score\" for each pair of slots that look like the\n"
    "same finger. Exit status 0, 1 when a file cannot be read, 2 on a wrong command line.\n";

struct TemplateDeleter {
    void operator()(fpmatch_template* t) const { fpmatch_free(t); }
};
using Template = std::unique_ptr<fpmatch_template, TemplateDeleter>;

// Reads a print and makes its template; null (reason on stderr) when it cannot.
// missing_ok: a file that does not exist is no error and gives null silently.
Template load(const std::string& path, bool missing_ok = false) {
    greyio_image img;
    const int rc = greyio_bmp_load(path.c_str(), &img);
    if (rc != GREYIO_OK) {
        if (!(missing_ok && rc == ENOENT))
            std::fprintf(stderr, "matchtool: %s: %s\n", path.c_str(), greyio_strerror(rc));
        return nullptr;
    }
    fpmatch_template* t = nullptr;
    const int mrc = fpmatch_extract(img.pixels, static_cast<int>(img.width),
                                    static_cast<int>(img.height), 0, &t);
    std::free(img.pixels);
    if (mrc != FPMATCH_OK) {
        std::fprintf(stderr, "matchtool: %s: %s\n", path.c_str(), fpmatch_strerror(mrc));
        return nullptr;
    }
    return Template(t);
}

int compare(const Template& a, const Template& b) {
    int s = 0;
    fpmatch_compare(a.get(), b.get(), &s);
    return s;
}

int cmd_score(const char* a, const char* b) {
    const Template ta = load(a);
    const Template tb = load(b);
    if (!ta || !tb)
        return 1;
    std::printf("%d\n", compare(ta, tb));
    return 0;
}

int cmd_pairs() {
    std::map<std::string, Template> cache; // null: the file could not be read
    auto get = [&cache](const std::string& path) -> const Template& {
        auto it = cache.find(path);
        if (it == cache.end())
            it = cache.emplace(path, load(path)).first;
        return it->second;
    };
    int failures = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos) {
            std::fprintf(stderr, "matchtool: not two names separated by a tab: %s\n", line.c_str());
            ++failures;
            continue;
        }
        const std::string a = line.substr(0, tab), b = line.substr(tab + 1);
        const Template& ta = get(a);
        const Template& tb = get(b);
        if (!ta || !tb) {
            ++failures;
            continue;
        }
        std::printf("%s\t%s\t%d\n", a.c_str(), b.c_str(), compare(ta, tb));
    }
    return failures ? 1 : 0;
}

// The whole file, empty when it cannot be read.
std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The amputation picture of a set's folder (name in any case), empty when there is none.
std::string amputation_picture(const char* dir) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        std::string name = e.path().filename().string();
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "amputado.bmp")
            return contents(e.path().string());
    }
    return {};
}

int cmd_set(const char* dir) {
    Template slots[10];
    int failures = 0;
    const std::string amputated = amputation_picture(dir);
    for (int n = 1; n <= 10; ++n) {
        const std::string path = std::string(dir) + "/dedo" + std::to_string(n) + ".bmp";
        if (!amputated.empty() && contents(path) == amputated)
            continue; // an amputated finger: every such slot holds the same picture
        slots[n - 1] = load(path, true);
        if (!slots[n - 1]) {
            errno = 0;
            FILE* f = std::fopen(path.c_str(), "rb");
            if (f) {
                std::fclose(f);
                ++failures; // present but unreadable (reported by load)
            }
        }
    }
    for (int n = 0; n < 10; ++n)
        for (int m = n + 1; m < 10; ++m) {
            if (!slots[n] || !slots[m])
                continue;
            const int s = compare(slots[n], slots[m]);
            if (s >= FPMATCH_SAME_FINGER)
                std::printf("%d\t%d\t%d\n", n + 1, m + 1, s);
        }
    return failures ? 1 : 0;
}

bool is_help(const char* a) {
    return std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && is_help(argv[1])) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "score") == 0)
        return cmd_score(argv[2], argv[3]);
    if (argc == 2 && std::strcmp(argv[1], "pairs") == 0)
        return cmd_pairs();
    if (argc == 3 && std::strcmp(argv[1], "set") == 0)
        return cmd_set(argv[2]);
    std::fputs(kUsage, stderr);
    return 2;
}
