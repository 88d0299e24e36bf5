// Runs every registered case; the exit code is the number of failed checks.
#include "check.hpp"

#include <windows.h>

#include <cstdio>

namespace tollwick::test {
namespace {

struct Case {
    const char* name;
    CaseFunction function;
};

std::vector<Case>& Cases() {
    static std::vector<Case> cases;
    return cases;
}

int failures = 0;

}  // namespace

CaseRegistration::CaseRegistration(const char* name, CaseFunction function) {
    Cases().push_back({name, function});
}

void Fail(const char* file, int line, const std::string& what) {
    ++failures;
    std::printf("%s:%d: FAILED %s\n", file, line, what.c_str());
    std::fflush(stdout);
}

std::string Printable(const std::string& value) { return "\"" + value + "\""; }

std::string Printable(const std::wstring& value) {
    if (value.empty()) return "L\"\"";
    int size = WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), utf8.data(), size, nullptr,
                        nullptr);
    return "L\"" + utf8 + "\"";
}

std::string Printable(const std::vector<std::string>& lines) {
    std::string text = "[";
    for (const std::string& line : lines) text += "\n    " + line;
    return text + "\n]";
}

}  // namespace tollwick::test

int main() {
    using namespace tollwick::test;
    for (const Case& testCase : Cases()) {
        int before = failures;
        testCase.function();
        std::printf("%s %s\n", failures == before ? "ok  " : "FAIL", testCase.name);
    }
    std::printf("%zu cases, %d failed checks\n", Cases().size(), failures);
    return failures;
}
