#include "CommandLine.hpp"

#include <cctype>
#include <cstring>

namespace tollwick {

namespace {

bool SameLetters(const char* text, const char* word, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        auto a = static_cast<unsigned char>(text[i]);
        auto b = static_cast<unsigned char>(word[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

} // namespace

bool HasSwitch(const char* commandLine, const char* word) {
    if (commandLine == nullptr || word == nullptr)
        return false;
    const std::size_t lineLength = std::strlen(commandLine);
    const std::size_t wordLength = std::strlen(word);
    if (wordLength == 0 || wordLength > lineLength)
        return false;
    for (std::size_t start = 0; start + wordLength <= lineLength; ++start) {
        const bool startsWord = start == 0 || commandLine[start - 1] == ' ';
        const std::size_t end = start + wordLength;
        const bool endsWord = end == lineLength || commandLine[end] == ' ';
        if (startsWord && endsWord && SameLetters(commandLine + start, word, wordLength))
            return true;
    }
    return false;
}

Switch FindSwitch(const char* commandLine) {
    struct Candidate {
        const char* word;
        Switch value;
    };
    static constexpr Candidate candidates[] = {
        {"-autorun", Switch::Autorun},
        {"-noautorun", Switch::NoAutorun},
        {"-setup", Switch::Setup},
        {"-remove", Switch::Remove},
    };
    for (const Candidate& candidate : candidates) {
        if (HasSwitch(commandLine, candidate.word))
            return candidate.value;
    }
    return Switch::None;
}

} // namespace tollwick
