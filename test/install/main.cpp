// Uses the installed headers and libraries the way an outside program would.
#include <quorrel/DataModel.hpp>
#include <tav/uri.hpp>

#include <iostream>

int main() {
    int failures = 0;
    auto expect = [&failures](bool ok, const char* what) {
        if (!ok) {
            std::cerr << "FAILED: " << what << '\n';
            ++failures;
        }
    };

    const std::string text = "HTTP://User@Example.COM:8080/A?b#c";
    tav::uri parsed;
    expect(parsed.parse_absolute(text.data(), text.data() + text.size()), "parse_absolute");
    std::string flat;
    parsed.flatten(flat, 124);
    expect(flat == "//example.com:8080/A?b#c", "flatten from the authority on");

    tav::DataModel::ClientGroup group(nullptr);
    group.SetName("Kids");
    group.SetTimeLimit(1, 1441);
    const tav::Ret ret = group.Validate(false);
    expect(!ret.IsOK(), "invalid group fails");
    expect(ret.GetMessage() == "Empty ID<br>The time limit value for Mon must be between the 0 and 1440",
           "validation messages");

    tav::DataModel::CustomerSite site(nullptr, false);
    site.SetID("1");
    expect(site.SetUrl("http://example.org") && site.Validate(false).IsOK(), "customer site");

    std::cout << (failures ? "install check failed\n" : "install check passed\n");
    return failures ? 1 : 0;
}
