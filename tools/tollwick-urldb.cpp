// Builds the URL category database from its source list:
//
//     tollwick-urldb SITE_LIST OUTPUT
//
// SITE_LIST is the text list described in SiteListReader.hpp; OUTPUT receives the boost text
// archive that the policy model loads. Nothing is written when the list has an error.

#include "SiteListReader.hpp"

#include <quorrel/URLGraphBuilder.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tollwick-urldb SITE_LIST OUTPUT\n";
        return 2;
    }
    const std::string list = argv[1];
    const std::string output = argv[2];
    try {
        std::ifstream in(list);
        if (!in)
            throw std::runtime_error("cannot open the list");
        tav::urlfilter::URLGraphBuilder builder;
        SiteListReader(builder).Read(in);
        // The archive goes to a file beside the output and replaces it only once it is whole.
        const std::string temporary = output + ".new";
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        builder.Write(out);
        out.close();
        if (!out || std::rename(temporary.c_str(), output.c_str()) != 0) {
            std::remove(temporary.c_str());
            throw std::runtime_error("cannot write " + output);
        }
    } catch (const std::exception& e) {
        std::cerr << "tollwick-urldb: " << list << ": " << e.what() << '\n';
        return 1;
    }
    return 0;
}
