// The phone book codec on 10 000 contacts against reading the same file's bytes: the read of the
// list (open, parse, records made) over a plain read of the file. Decoding makes some 50 000 small
// texts where the plain read copies bytes once; the goal bounds that. A plain read takes a tenth
// of a millisecond, so each round times as many reads in a row as fill 20 ms (and the codec as
// many reads as fill 40 ms); the two sides take turns, and each side's figure is its median round.
#include "BenchRounds.h"
#include "SyncRecords.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRecords = 10000;
constexpr int kRounds = 31;
constexpr double kReadRoundSeconds = 0.02;
constexpr double kCodecRoundSeconds = 0.04;
constexpr double kGoal = 500.0;

} // namespace

int main(int argc, char** argv) {
    const std::string path = (argc > 1 ? std::string(argv[1]) : std::string(".")) + "/bench_phonebook.dat";
    pimsync::ZvPhonebookFile list;
    for (int i = 0; i < kRecords; ++i) {
        auto contact = std::make_unique<pimsync::ZvContactRecord>(1);
        contact->s1 = "Home";
        contact->idNumber = static_cast<uint32_t>(i + 1);
        contact->s3 = "Surname" + std::to_string(i);
        contact->s4 = "Given";
        contact->s5 = "+1 555 0100 " + std::to_string(i % 100);
        contact->s6 = "Example Street 12";
        contact->s7 = "Springfield";
        contact->s8 = "someone" + std::to_string(i) + "@example.com";
        contact->icq = "123456";
        list.Append(std::move(contact));
    }
    if (!list.WriteFile(path)) {
        std::printf("phonebook codec benchmark: cannot write %s\n", path.c_str());
        return 1;
    }
    size_t bytes = 0;
    std::vector<char> buffer(1 << 16);
    auto readFile = [&] {
        bytes = 0;
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            for (size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;)
                bytes += got;
            std::fclose(file);
        }
    };
    bool ok = true;
    auto readList = [&] {
        pimsync::ZvPhonebookFile again;
        ok = ok && again.ReadFile(path) && again.Count() == static_cast<size_t>(kRecords);
    };
    const auto rounds = tv::bench::InterleavedRounds(
        kRounds, {[&] { return tv::bench::SecondsPerCall(readFile, kReadRoundSeconds); },
                  [&] { return tv::bench::SecondsPerCall(readList, kCodecRoundSeconds); }});
    const double readSeconds = tv::bench::Median(rounds[0]), codecSeconds = tv::bench::Median(rounds[1]);
    std::remove(path.c_str());
    const double ratio = codecSeconds / readSeconds;
    std::printf("benchmark pimsync_phonebook_codec: %d contacts, %zu bytes, %.2f ms against %.3f ms read "
                "(median of %d rounds): ratio %.1f (goal <= %.0f)\n",
                kRecords, bytes, codecSeconds * 1000, readSeconds * 1000, kRounds, ratio, kGoal);
    return ok ? 0 : 1;
}
