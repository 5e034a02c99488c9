#include "test_data.h"

#include <array>
#include <random>
#include <string_view>

namespace caparchive::testdata {
namespace {

constexpr std::array<std::string_view, 64> kWords{
    "the",      "of",      "and",     "to",      "a",        "in",       "is",          "that",
    "for",      "it",      "as",      "was",     "with",     "be",       "by",          "on",
    "not",      "he",      "this",    "are",     "or",       "his",      "from",        "at",
    "which",    "but",     "have",    "an",      "had",      "they",     "you",         "were",
    "device",   "package", "archive", "backup",  "contacts", "calendar", "settings",    "window",
    "install",  "folder",  "message", "connect", "handheld", "desktop",  "restore",     "version",
    "between",  "through", "because", "without", "although", "whenever", "synchronise", "important",
    "question", "answer",  "morning", "evening", "remember", "quickly",  "carefully",   "together"};

} // namespace

std::vector<uint8_t> MakeText(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> text;
    text.reserve(size + 32);
    bool sentenceStart = true;
    size_t lineLength = 0;
    while (text.size() < size) {
        // Squaring a uniform draw favours the first, short and frequent words.
        const double u = std::uniform_real_distribution<double>(0, 1)(random);
        std::string_view word = kWords[static_cast<size_t>(u * u * kWords.size())];
        for (size_t i = 0; i < word.size(); ++i)
            text.push_back(static_cast<uint8_t>(i == 0 && sentenceStart ? word[i] - 'a' + 'A' : word[i]));
        sentenceStart = false;
        lineLength += word.size() + 1;
        const unsigned punctuation = random() % 16;
        if (punctuation == 0) {
            text.push_back('.');
            sentenceStart = true;
        } else if (punctuation == 1) {
            text.push_back(',');
        }
        if (lineLength > 72) {
            text.push_back('\n');
            lineLength = 0;
        } else {
            text.push_back(' ');
        }
    }
    text.resize(size);
    return text;
}

std::vector<uint8_t> MakeRandom(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

std::vector<uint8_t> MakeSmallAlphabet(size_t size, unsigned alphabet, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>('a' + random() % alphabet);
    return bytes;
}

} // namespace caparchive::testdata
