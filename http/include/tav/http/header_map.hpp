#pragma once

// tav::http::header_map - the header fields of a request or a response, in the order they were added.
//
// Keys are atoms, so a lookup compares pointers: find() sees the fields whose names were interned (the
// server interns the names it knows and gives made-up ones atoms of their own, which only iteration sees).
// A name may occur more than once (several Set-Cookie fields, say); set() replaces every occurrence by one.
// Not synchronised.

#include <tav/http/atom.hpp>
#include <tav/http/export.hpp>

#include <string>
#include <utility>
#include <vector>

namespace tav::http {

class TAV_HTTP_EXPORT header_map {
public:
    using field = std::pair<atom, std::string>;
    using const_iterator = std::vector<field>::const_iterator;

    // Appends a field, keeping any earlier ones of the same name.
    void add(const atom& name, std::string value);
    // Replaces every field of the name by one with this value, in the place of the first.
    void set(const atom& name, std::string value);
    // Removes every field of the name.
    void erase(const atom& name);
    // The value of the first field of the name, or null.
    const std::string* find(const atom& name) const;

    const_iterator begin() const { return fields_.begin(); }
    const_iterator end() const { return fields_.end(); }
    bool empty() const { return fields_.empty(); }

private:
    std::vector<field> fields_;
};

} // namespace tav::http
