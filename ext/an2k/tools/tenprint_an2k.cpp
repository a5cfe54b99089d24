// tenprint-an2k: a saved set as an ANSI/NIST-ITL 1-2011 ten-print transaction, and back.
//   tenprint-an2k write SETDIR OUT.an2 [--ref REF] [--ori ORI] [--dai DAI] [--imp CODE]
//   tenprint-an2k dump FILE.an2
//   tenprint-an2k extract FILE.an2 OUTDIR
// Exit status 0, 1 on a failure (one line on stderr), 2 on a wrong command line.
#include "an2k.h"
#include "an2k_set.h"
#include "greyio.h"
#include "nfiq_core.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <set>
#include <string>
#include <strings.h>

namespace {

const char kUsage[] =
    "usage: tenprint-an2k write SETDIR OUT.an2 [--ref REF] [--ori ORI] [--dai DAI] [--imp CODE]\n"
    "       tenprint-an2k dump FILE.an2\n"
    "       tenprint-an2k extract FILE.an2 OUTDIR\n"
    "write: the set saved in SETDIR (dedo1.bmp ... dedo10.bmp, dedo1.wsq ... dedo10.wsq) as an\n"
    "  ANSI/NIST-ITL 1-2011 transaction: Type-1, Type-2 and one Type-14 per finger with its WSQ\n"
    "  and NFIQ score; a slot whose bitmap is the amputation picture (Amputado.BMP in SETDIR or\n"
    "  beside this program) is written as amputated. REF goes into the TCN; ORI (also the\n"
    "  SRC of each finger) and DAI default to ORIG00001 and DEST00001; CODE is the impression\n"
    "  type, 0 live-scan plain (default) or 1 live-scan rolled.\n"
    "dump: every record and field as text, image data as its length and compression.\n"
    "extract: each finger's WSQ image as OUTDIR/dedoN.wsq (N = finger position 1..10).\n"
    "Exit status 0, 1 on a failure, 2 on a wrong command line.\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "tenprint-an2k: %s\n", what.c_str());
    return 1;
}

// The file in folder whose name matches `name` without regard to letter case, or "".
std::string FindNoCase(const std::string& folder, const char* name) {
    DIR* d = opendir(folder.c_str());
    if (!d)
        return std::string();
    std::string found;
    while (dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, name) == 0) {
            found = folder + "/" + e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

std::string ProgramFolder() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

int Score(int, const uint8_t* pixels, int width, int height) {
    const nfiq::Result r = nfiq::assess(pixels, width, height);
    return r.status == nfiq::kInvalidArgument || r.score < 1 || r.score > 5 ? 255 : r.score;
}

int Write(int argc, char** argv) {
    if (argc < 4)
        return Usage();
    an2k::SetOptions options;
    for (int a = 4; a < argc; a += 2) {
        if (a + 1 >= argc)
            return Usage();
        const std::string opt = argv[a], value = argv[a + 1];
        if (opt == "--ref")
            options.ref = value;
        else if (opt == "--ori")
            options.ori = value;
        else if (opt == "--dai")
            options.dai = value;
        else if (opt == "--imp" && (value == "0" || value == "1"))
            options.imp = std::atoi(value.c_str());
        else
            return Usage();
    }
    const std::string dir = argv[2];
    options.amputation_picture = FindNoCase(dir, "amputado.bmp");
    if (options.amputation_picture.empty())
        options.amputation_picture = FindNoCase(ProgramFolder(), "amputado.bmp");
    if (options.amputation_picture.empty())
        std::fprintf(stderr, "tenprint-an2k: no Amputado.BMP found; no slot is taken for "
                             "amputated\n");
    options.score = Score;
    std::vector<uint8_t> bytes;
    if (an2k::Result r = an2k::encode_set(dir, options, bytes); !r)
        return Fail(r.message);
    if (const int rc = greyio_write_file_atomic(argv[3], bytes.data(), bytes.size()))
        return Fail(std::string(argv[3]) + ": " + greyio_strerror(rc));
    return 0;
}

bool Load(const char* path, an2k::Transaction& t, std::string& error) {
    uint8_t* data = nullptr;
    size_t len = 0;
    if (const int rc = greyio_read_file(path, &data, &len)) {
        error = std::string(path) + ": " + greyio_strerror(rc);
        return false;
    }
    const an2k::Result r = an2k::read(data, len, t);
    std::free(data);
    if (!r)
        error = std::string(path) + ": " + r.message;
    return bool(r);
}

int Dump(int argc, char** argv) {
    if (argc != 3)
        return Usage();
    an2k::Transaction t;
    std::string error;
    if (!Load(argv[2], t, error))
        return Fail(error);
    const std::string text = an2k::dump(t);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int Extract(int argc, char** argv) {
    if (argc != 4)
        return Usage();
    an2k::Transaction t;
    std::string error;
    if (!Load(argv[2], t, error))
        return Fail(error);
    std::set<int> written;
    for (size_t i = 1; i < t.records.size(); ++i) {
        const an2k::Record& rec = t.records[i];
        if (rec.type != 14 && rec.type != 4)
            continue;
        const an2k::Field* image = rec.find(rec.type == 14 ? 999 : 9);
        const an2k::Field* fgp = rec.find(rec.type == 14 ? 13 : 4);
        const an2k::Field* cga = rec.find(rec.type == 14 ? 11 : 8);
        if (!image)
            continue; // amputated or unable to print
        const std::string where = "record " + std::to_string(i + 1);
        const int finger = fgp ? std::atoi(an2k::split(fgp->value)[0][0].c_str()) : 0;
        const bool wsq = cga && cga->value == (rec.type == 14 ? "WSQ20" : "1");
        if (finger < 1 || finger > 10 || !wsq) {
            std::fprintf(stderr, "tenprint-an2k: %s: not a WSQ image of finger 1..10, skipped\n",
                         where.c_str());
            continue;
        }
        if (!written.insert(finger).second)
            return Fail(where + ": a second image of finger " + std::to_string(finger));
        const std::string out = std::string(argv[3]) + "/dedo" + std::to_string(finger) + ".wsq";
        if (const int rc =
                greyio_write_file_atomic(out.c_str(), image->value.data(), image->value.size()))
            return Fail(out + ": " + greyio_strerror(rc));
        std::printf("%s\n", out.c_str());
    }
    if (written.empty())
        return Fail(std::string(argv[2]) + ": no WSQ finger image in the transaction");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    if (command == "write")
        return Write(argc, argv);
    if (command == "dump")
        return Dump(argc, argv);
    if (command == "extract")
        return Extract(argc, argv);
    return Usage();
}
