// A minimal test framework for the cross-built unit tests: cases register themselves, a failed check
// prints file:line and the expression, and the process exit code is the number of failed checks.
#pragma once

#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace tollwick::test {

using CaseFunction = void (*)();

struct CaseRegistration {
    CaseRegistration(const char* name, CaseFunction function);
};

// Records one failed check and prints it at once.
void Fail(const char* file, int line, const std::string& what);

// Text of a value in a failure message; enums print as numbers unless their namespace offers a
// better Printable, found by argument-dependent lookup.
template <typename T>
std::string Printable(const T& value) {
    if constexpr (std::is_enum_v<T>) {
        return std::to_string(static_cast<long long>(value));
    } else {
        std::ostringstream text;
        text << value;
        return text.str();
    }
}
std::string Printable(const std::string& value);
std::string Printable(const std::wstring& value);
std::string Printable(const std::vector<std::string>& lines);

template <typename A, typename B>
void CheckEqual(const A& actual, const B& expected, const char* text, const char* file, int line) {
    if (actual == expected) return;
    std::ostringstream message;
    message << text << ": got " << Printable(actual) << ", expected " << Printable(expected);
    Fail(file, line, message.str());
}

}  // namespace tollwick::test

#define TW_CONCAT2(a, b) a##b
#define TW_CONCAT(a, b) TW_CONCAT2(a, b)

#define TEST_CASE(name)                                                                         \
    static void name();                                                                         \
    static const ::tollwick::test::CaseRegistration TW_CONCAT(name, _registration)(#name, name); \
    static void name()

#define CHECK(condition) \
    ((condition) ? void() : ::tollwick::test::Fail(__FILE__, __LINE__, "CHECK(" #condition ")"))

#define CHECK_EQ(actual, expected) \
    ::tollwick::test::CheckEqual((actual), (expected), #actual " == " #expected, __FILE__, __LINE__)
